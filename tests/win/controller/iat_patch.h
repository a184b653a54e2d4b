// Redirects this executable's imports of a system function to a test's own
// function, so a test can watch (or script) what the code under test asks of
// the system without any hook in product code. Restored when it goes away.
#pragma once

#include <windows.h>

#include <cstring>
#include <vector>

class ImportPatch {
 public:
  ImportPatch(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    // The linker may give one DLL several descriptors: patch every slot.
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); desc->Name;
         ++desc) {
      if (lstrcmpiA(reinterpret_cast<const char*>(base + desc->Name), dll) != 0) continue;
      const DWORD namesRva = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesRva);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        if (!m_pOriginal) m_pOriginal = reinterpret_cast<void*>(slots->u1.Function);
        m_slots.push_back(&slots->u1.Function);
        Write(&slots->u1.Function, reinterpret_cast<ULONG_PTR>(replacement));
      }
    }
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  ~ImportPatch() {
    for (auto* slot : m_slots) Write(slot, reinterpret_cast<ULONG_PTR>(m_pOriginal));
  }

  // True when the executable imports the function (and it is now redirected).
  bool Active() const { return !m_slots.empty(); }

  // The system's own function, for a replacement that passes calls on.
  template <class Fn>
  Fn Original() const {
    return reinterpret_cast<Fn>(m_pOriginal);
  }

 private:
  static void Write(decltype(IMAGE_THUNK_DATA::u1.Function)* slot, ULONG_PTR value) {
    DWORD oldProtect = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &oldProtect);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), oldProtect, &oldProtect);
  }

  void* m_pOriginal = nullptr;
  std::vector<decltype(IMAGE_THUNK_DATA::u1.Function)*> m_slots;
};
