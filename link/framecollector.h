#ifndef VANTOREL_FRAMECOLLECTOR_H
#define VANTOREL_FRAMECOLLECTOR_H

#include "frame.h"

#include <QByteArray>

// Picks one answer frame, 0xC0 up to the next 0xC1, out of the chunks read from the line.
// Bytes outside a frame are noise; a second 0xC0 restarts the frame; whatever follows the
// 0xC1 in its chunk is dropped.
class FrameCollector
{
public:
    // Scans one chunk; returns true once a frame is complete.
    bool scan(const char *bytes, qint64 count);
    bool scan(const QByteArray &chunk) { return scan(chunk.constData(), chunk.size()); }

    bool isComplete() const { return complete; }
    // More bytes collected than an answer buffer can hold: the frame is refused.
    bool isOverlong() const { return frame.size() > FrameBuffer::capacity; }
    const QByteArray &bytes() const { return frame; }
    void clear();

private:
    QByteArray frame;
    bool inFrame = false;
    bool complete = false;
};

#endif
