#ifndef VANTOREL_WINDOWSTATE_H
#define VANTOREL_WINDOWSTATE_H

// What the window is doing, kept in one place: the refresh, the two buttons, the menu
// entry and the new-campaign dialog all look here before they touch the wire or open a
// dialog, so that one operation at a time talks to the logger.
struct WindowState {
    enum class Situation {
        Polling,           // refresh timer at 1 s, buttons usable
        FastRetry,         // the last wake-up failed: refresh again at once
        Refreshing,        // a refresh waits for the logger
        Busy,              // a button's operation or the campaign sequence runs
        WaitingForDialog,  // a dialog owns the window until its closed()
    };
    enum class Action { None, Read, Start, Connection };

    Situation situation = Situation::Polling;
    Action pending = Action::None;  // asked for while busy: runs once the operation is over
    bool quitting = false;          // the window was closed: every operation gives up

    bool idle() const { return situation == Situation::Polling || situation == Situation::FastRetry; }
};

#endif
