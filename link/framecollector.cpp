#include "framecollector.h"

void FrameCollector::clear()
{
    frame.clear();
    inFrame = false;
    complete = false;
}

bool FrameCollector::scan(const char *bytes, qint64 count)
{
    if (complete)
        return true;
    for (qint64 i = 0; i < count; ++i) {
        const quint8 byte = quint8(bytes[i]);
        if (!inFrame) {
            if (byte == START_CHAR) {
                frame.append(char(byte));
                inFrame = true;
            }
            continue;
        }
        if (byte == START_CHAR) {
            frame.clear();
            frame.append(char(byte));
            continue;
        }
        // Past the buffer size the frame can only be refused; stop growing it.
        if (frame.size() <= FrameBuffer::capacity)
            frame.append(char(byte));
        if (byte == END_CHAR) {
            complete = true;
            return true;
        }
    }
    return false;
}
