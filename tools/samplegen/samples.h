// The shipped sample controller and images: one family-5 board and the
// images a release engineer meets (newer, older, another board, another
// family). Shared by the generator, the tests and the demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Sample {
  std::string file;  // file name in samples/
  std::vector<uint8_t> bytes;
  const char* expected;  // first line nvmcheck prints against the controller
};

constexpr uint32_t kSampleControllerVersion = 0x20;

std::vector<uint8_t> SampleControllerNvm();
std::vector<Sample> SampleImages();
