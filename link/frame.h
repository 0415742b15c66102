#ifndef VANTOREL_FRAME_H
#define VANTOREL_FRAME_H

// Bytes of the logger protocol: request and answer frames, stuffing, CRC-16/X-25.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

constexpr quint8 START_CHAR = 0xC0;
constexpr quint8 END_CHAR = 0xC1;
constexpr quint8 ESCAPE_CHAR = 0x7D;
constexpr quint8 STUFFING_MASK = 0x20;
constexpr quint8 PREAMBLE_BYTE = 0xFF;

constexpr quint8 FC_RESPONSE = 6;
constexpr quint8 FC_WRITE_BYTE = 7;
constexpr quint8 FC_READ_BLOCKS = 8;

constexpr int REQUEST_PAYLOAD_LENGTH = 10;
constexpr int MAX_BLOCKS = 8;
constexpr int BLOCK_SIZE = 8;

enum AnswerCode {
    ANSWER_OK = 0,
    ANSWER_BAD_DELIMITERS = 1,
    ANSWER_BAD_CRC = 2,
    ANSWER_NOT_RESPONSE = 3,
    ANSWER_BAD_LENGTH = 9,
};

struct FrameBuffer {
    static constexpr int capacity = 1300;
    std::array<quint8, capacity> data;
    qint32 length = 0;

    FrameBuffer() { data.fill(0xFF); }
};

// Length of an unstuffed answer that carries `blocks` data blocks.
constexpr int answerLength(int blocks) { return 13 + BLOCK_SIZE * blocks; }

quint16 crc16(const quint8 *bytes, int count);

void resetBuffer(FrameBuffer &buffer);
void setBuffer(FrameBuffer &buffer, const quint8 *bytes, int count);
// Frames a payload: START, payload, CRC low, CRC high, END, stuffed in between.
// A payload that could not fit the buffer once stuffed leaves it empty.
void buildFrame(FrameBuffer &buffer, const quint8 *payload, int count);
void buildReadRequest(FrameBuffer &buffer, quint32 deviceAddress, quint32 registerAddress, quint8 blocks);
void buildWriteRequest(FrameBuffer &buffer, quint32 deviceAddress, quint32 registerAddress, quint8 value);
void stuffFrame(FrameBuffer &buffer);
void unstuffFrame(FrameBuffer &buffer);
bool checkCrc(const FrameBuffer &buffer);
int checkAnswer(FrameBuffer &buffer, quint8 blocks);
void dumpFrame(const FrameBuffer &buffer);

// "c0 06 c1 " form used by the debug dumps.
QString hexBytes(const quint8 *bytes, int count);

// The address of the logger that sent an answer: bytes 1..4 of the frame, big-endian.
quint32 answerDeviceAddress(const FrameBuffer &answer);

#endif
