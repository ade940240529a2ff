// FFmpeg's error codes as text for the reasons shown to the user.
#pragma once

#include <string>

namespace vexa::video {

// The message FFmpeg gives for an AVERROR code (English, in brackets after a French
// reason), or the code itself when FFmpeg has none.
std::string ffmpegErrorText(int error);

// Keeps FFmpeg's own log (deprecated pixel formats, damaged packets) off the
// terminal: the reasons we give say what matters. Idempotent.
void quietFfmpeg();

} // namespace vexa::video
