// Writes the sample controller NVM dump and images into a folder.
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/samplegen/samples.h"

static bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: samplegen OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = Write(dir + "/controller.nvm", SampleControllerNvm());
  std::ofstream(dir + "/controller.version")
      << "0x" << std::hex << std::uppercase << kSampleControllerVersion << "\n";
  for (const Sample& sample : SampleImages()) ok = Write(dir + "/" + sample.file, sample.bytes) && ok;
  if (!ok) {
    std::fprintf(stderr, "samplegen: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
