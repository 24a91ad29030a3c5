#pragma once
// What a recording has open, and the reason of the last failed create or write.
#include <cstdint>
#include <string>

// Values of the recording controller's WriterState; the SER and AVI writers return them.
constexpr int32_t WriterNone = -1;    // nothing open
constexpr int32_t WriterStills = -2;  // a FIT or BMP series: one file per frame, none held open
constexpr int32_t WriterSer = -3;     // a SER file is open
constexpr int32_t WriterAvi = 999;    // an AVI recording is open

// Text of the last failure of any writer, naming the file, ready to be shown to the user.
// Every writer sets it when it reports a failure; it is not cleared by a success.
const std::string& LastWriterError();
void SetWriterError(std::string text);
