#ifndef VANTOREL_RETRYBOX_H
#define VANTOREL_RETRYBOX_H

class QWidget;
struct WindowState;

// The "Error COM, retry ?" box of every operation. Only OK retries: a box closed because
// the program quits answers no button at all, and nothing retries once the window closed.
bool askRetryCom(QWidget *parent, const WindowState &state);

#endif
