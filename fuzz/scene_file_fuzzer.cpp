// Scene files with the real plug-in loaded, so that its tags' and deformers' state chunks are
// read too. Each input is the content of a scene file: the target wraps it with the header and
// a correct check value, so that the fuzzer spends its time inside the reader rather than on
// the check. A scene that loads must save, load again and save to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "headless/entries/entries_state.h"
#include "headless/entries/framework.h"
#include "headless/entries/plugin_host.h"
#include "headless/io/scene_file.h"

namespace {

// Started once and kept loaded for the whole run; closed at exit, before the host's records go,
// so that the plug-in frees what it registered.
headless::PluginHost* g_plugin = nullptr;

void ClosePlugin() {
  g_plugin->Close();
  delete g_plugin;
  g_plugin = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  headless::ResetHostState();
  g_plugin = new headless::PluginHost;
  std::string error;
  try {
    g_plugin->Open(std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR) + "/tessamire.xdl64");
    if (g_plugin->StartUp().start != 1) error = "the start was refused";
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!error.empty()) {
    std::fprintf(stderr, "cannot start the plug-in: %s\n", error.c_str());
    std::exit(1);
  }
  std::atexit(ClosePlugin);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> file =
      headless::SceneFileImage(std::span<const std::uint8_t>(data, size));
  std::unique_ptr<headless::Document> doc;
  try {
    doc = headless::DeserializeDocument(file, "input");
  } catch (const std::runtime_error&) {
    return 0;  // refused with a message: what the reader should do with bad content
  }
  // From here on nothing may fail: an exception escaping stops the run.
  const std::vector<std::uint8_t> saved = headless::SerializeDocument(*doc);
  doc.reset();
  const std::unique_ptr<headless::Document> again = headless::DeserializeDocument(saved, "saved");
  fuzz::Check(headless::SerializeDocument(*again) == saved, "scene save, load, save");
  return 0;
}
