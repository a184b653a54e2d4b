#include "controller/tbt_provider.h"

namespace {

// The provider is called from the one thread that runs the update.
TbtCallGate g_gate = nullptr;
void* g_context = nullptr;

}  // namespace

void TbtSetCallGate(TbtCallGate gate, void* context) {
  g_gate = gate;
  g_context = gate ? context : nullptr;
}

TbtStatus TbtCallGateCheck() {
  return g_gate ? g_gate(g_context) : STATUS_OK;
}
