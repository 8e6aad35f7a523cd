#include "headless/picture/movie.h"

#include <algorithm>
#include <stdexcept>

#include "headless/files/interruption.h"

namespace headless {

std::string FindMovieEncoder() {
  const std::string ffmpeg = platform::FindProgram("ffmpeg");
  if (ffmpeg.empty())
    throw std::runtime_error(
        "ffmpeg not found: --movie needs the ffmpeg program (install Debian's ffmpeg package)");
  return ffmpeg;
}

MovieWriter::MovieWriter(const std::string& encoder, const std::string& path, Int32 width,
                         Int32 height, const std::string& rate)
    : path_(path), width_(width), height_(height), paddedWidth_(width + width % 2), file_(path) {
  file_.ReleaseStream();
  const Int32 paddedHeight = height + height % 2;
  std::string error;
  pipe_ = platform::OpenPipeTo(
      encoder,
      {"-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24", "-s",
       std::to_string(paddedWidth_) + "x" + std::to_string(paddedHeight), "-r", rate, "-i", "-",
       "-pix_fmt", "yuv420p", "-f", "mp4", file_.TemporaryPath()},
      error);
  if (pipe_ == nullptr) throw std::runtime_error("cannot start ffmpeg: " + error);
  frame_.assign(static_cast<size_t>(paddedWidth_) * paddedHeight * 3, 0);
}

MovieWriter::~MovieWriter() {
  if (pipe_ != nullptr) platform::AbandonPipe(pipe_);
}

void MovieWriter::AddFrame(const Image& image) {
  if (pipe_ == nullptr) throw std::runtime_error(path_ + ": the movie is finished already");
  if (image.width != width_ || image.height != height_)
    throw std::invalid_argument("a movie of " + std::to_string(width_) + " x " +
                                std::to_string(height_) + " pictures takes no picture of " +
                                std::to_string(image.width) + " x " + std::to_string(image.height));
  for (Int32 y = 0; y < image.height; ++y)
    std::copy_n(image.rgb.begin() + 3 * static_cast<Int64>(y) * image.width, 3 * image.width,
                frame_.begin() + 3 * static_cast<Int64>(y) * paddedWidth_);
  std::string error;
  switch (platform::WriteToPipe(pipe_, frame_.data(), frame_.size(), error)) {
    case platform::PipeWrite::kWritten:
      return;
    case platform::PipeWrite::kInterrupted:
      throw Interrupted();
    case platform::PipeWrite::kFailed:
      throw std::runtime_error("ffmpeg stopped reading frames (" + error +
                               "; see its message above)");
  }
}

void MovieWriter::Finish() {
  if (pipe_ == nullptr) throw std::runtime_error(path_ + ": the movie is finished already");
  const int status = platform::ClosePipe(pipe_);
  pipe_ = nullptr;
  StopIfInterrupted();
  if (status != 0)
    throw std::runtime_error("ffmpeg failed (exit " + std::to_string(status) + ") writing " +
                             path_);
  file_.Commit();
}

}  // namespace headless
