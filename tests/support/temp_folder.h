// A fresh folder under the system's temporary folder, removed with the object.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

struct TempFolder {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("tessamire_test_" + std::to_string(std::random_device{}()));
  TempFolder() { std::filesystem::create_directories(path); }
  ~TempFolder() { std::filesystem::remove_all(path); }
  void Write(const std::string& relative, const std::string& text) const {
    std::filesystem::create_directories((path / relative).parent_path());
    std::ofstream(path / relative, std::ios::binary) << text;
  }
};
