#include "controller/version_policy.h"

TbtStatus ApplyVersionPolicy(uint32_t imageVersion, uint32_t currentVersion, int32_t downgradable) {
  if (imageVersion >= currentVersion || downgradable != 0) return STATUS_OK;
  return ERR_DOWNGRADE_REFUSED;
}
