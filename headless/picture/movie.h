// Movies: pictures of one size encoded as an MP4 file by the ffmpeg program, which reads them as
// raw RGB frames on its standard input. Its output goes to a temporary file beside the movie
// (headless/files/output_file.h), renamed over it only when every frame went through and ffmpeg
// ended well; a failure or a Ctrl-C ends ffmpeg without waiting for it (it may have stopped
// reading) and removes the temporary file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "headless/files/output_file.h"
#include "headless/picture/image.h"
#include "headless/platform/processes.h"

namespace headless {

// Where ffmpeg is, along PATH. Throws std::runtime_error when it is not there.
std::string FindMovieEncoder();

class MovieWriter {
 public:
  // Starts `encoder` (FindMovieEncoder's) writing `path`, a movie of width x height pictures at
  // `rate` frames per second (as ffmpeg reads a rate: "24", "29.97"), each padded with black to
  // even sides, which the yuv420p that players expect wants. Throws std::runtime_error when the
  // temporary file cannot be made or ffmpeg cannot be started.
  MovieWriter(const std::string& encoder, const std::string& path, Int32 width, Int32 height,
              const std::string& rate);
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;
  // Ends ffmpeg and removes the temporary file unless Finish succeeded.
  ~MovieWriter();

  // Hands ffmpeg the next frame. Throws std::invalid_argument for a picture of another size,
  // std::runtime_error when ffmpeg stopped reading, Interrupted on Ctrl-C.
  void AddFrame(const Image& image);
  // Waits for ffmpeg to write the movie and puts it in place. Throws std::runtime_error naming
  // ffmpeg's exit code when it failed, Interrupted on Ctrl-C meanwhile.
  void Finish();

 private:
  std::string path_;
  Int32 width_ = 0;
  Int32 height_ = 0;
  Int32 paddedWidth_ = 0;
  OutputFile file_;
  platform::ProgramPipe* pipe_ = nullptr;
  std::vector<std::uint8_t> frame_;  // the padded frame, its padding black
};

}  // namespace headless
