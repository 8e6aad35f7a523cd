// Movies through a stand-in for ffmpeg (a shell script taking the same arguments): each picture
// reaches the encoder padded with black to even sides, row by row; the movie is put in place only
// when the encoder ended well, and a picture of another size is refused.
#include "headless/picture/movie.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

class Movie : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) / ("tessamire_movie_" + std::string(info->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A stand-in encoder running `body` with the output file (its last argument) in $out.
  std::string Encoder(const std::string& body) const {
    const fs::path script = dir / "encoder";
    std::ofstream(script) << "#!/bin/sh\nfor out; do :; done\n" << body << "\n";
    fs::permissions(script, fs::perms::owner_all);
    return script.string();
  }

  std::string Bytes(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  std::string Leftovers() const {
    std::string names;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().filename() != "encoder") names += entry.path().filename().string() + " ";
    return names;
  }

  fs::path dir;
};

TEST_F(Movie, PicturesArePaddedToEvenSidesWithBlack) {
  const std::string movie = (dir / "m.mp4").string();
  headless::MovieWriter writer(Encoder("cat > \"$out\""), movie, 3, 1, "24");
  headless::Image picture = headless::MakeImage(3, 1, {10, 20, 30});
  headless::SetPixel(picture, 2, 0, {40, 50, 60});
  writer.AddFrame(picture);
  writer.AddFrame(headless::MakeImage(3, 1, {1, 2, 3}));
  writer.Finish();
  // 4 x 2 pixels a frame: the picture's row, a black pixel after it, and a black row.
  const std::string black(3, '\0');
  const std::string first =
      std::string("\x0a\x14\x1e\x0a\x14\x1e\x28\x32\x3c") + black + black + black + black + black;
  const std::string second =
      std::string("\x01\x02\x03\x01\x02\x03\x01\x02\x03") + black + black + black + black + black;
  EXPECT_EQ(Bytes(movie), first + second);
  EXPECT_EQ(Leftovers(), "m.mp4 ");
}

TEST_F(Movie, AFailedEncoderLeavesNoMovie) {
  const std::string movie = (dir / "m.mp4").string();
  {
    headless::MovieWriter writer(Encoder("cat > \"$out\"; exit 3"), movie, 2, 2, "24");
    writer.AddFrame(headless::MakeImage(2, 2, {1, 2, 3}));
    try {
      writer.Finish();
      FAIL() << "the encoder's failure went unnoticed";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "ffmpeg failed (exit 3) writing " + movie);
    }
  }
  EXPECT_EQ(Leftovers(), "");
  {
    headless::MovieWriter writer(Encoder("cat > \"$out\""), movie, 2, 2, "24");
    EXPECT_THROW(writer.AddFrame(headless::MakeImage(2, 3, {1, 2, 3})), std::invalid_argument);
  }
  EXPECT_EQ(Leftovers(), "");
}

#endif

}  // namespace
