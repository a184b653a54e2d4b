// The WMI provider client against fake provider objects: what it sends, what
// it takes from the answers, and that it gives every reference back.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "controller/tbt_wmi.h"
#include "tests/win/controller/fake_wbem.h"
#include "tests/win/controller/iat_patch.h"

namespace {

constexpr TbtStatus kProviderCode = 0x80041001;  // a code of the provider's own

// Connects the client to `provider` for one scope. On leaving, nothing but
// the connection may still be referenced, and dropping the connection brings
// the services back to 0.
class Connection {
 public:
  explicit Connection(FakeProvider& provider) : m_provider(provider) {
    TbtConnectWithServices(&provider.services);
  }
  ~Connection() {
    EXPECT_EQ(m_provider.Leaks(1), "");
    TbtConnectWithServices(nullptr);
    EXPECT_EQ(m_provider.services.Refs(), 0);
  }

 private:
  FakeProvider& m_provider;
};

class WmiClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }

  static void AnswerAll(FakeProvider& provider, LONG returnValue) {
    provider.answers[L"GetCurrentNvmVersion"].out = {{L"ReturnValue", OwnedVariant::I4(returnValue)},
                                                     {L"NvmVersion", OwnedVariant::I4(0x33)}};
    provider.answers[L"ReadFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(returnValue)},
                                             {L"data", OwnedVariant::Bytes({1, 2, 3, 4})}};
    provider.answers[L"UpdateFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(returnValue)}};
  }

  // Runs each of the three methods once; their statuses in that order.
  static std::vector<TbtStatus> CallAll() {
    uint32_t version = 0;
    uint8_t buffer[4] = {};
    const uint8_t image[3] = {7, 8, 9};
    return {TbtGetCurrentNvmVersion(version), TbtReadFirmware(0, 4, buffer), TbtUpdateFirmware(image, 3)};
  }
};

std::vector<std::string> g_logged;
void KeepLogLine(const std::string& event) {
  g_logged.push_back(event);
}

std::wstring PathFor(const std::wstring& escapedId) {
  return L"SdkTbtController.ControllerId=\"" + escapedId + L"\"";
}

TEST(EscapeBackslashesTest, DoublesBackslashesOnlyAndCutsNothing) {
  const struct {
    std::wstring source, expected;
  } cases[] = {
      {L"", L""},
      {L"abc", L"abc"},
      {L"a\\b", L"a\\\\b"},
      {L"\\", L"\\\\"},
      {L"\\\\", L"\\\\\\\\"},
      {L"x\\", L"x\\\\"},
      {L"quote\"s' stay", L"quote\"s' stay"},
      {std::wstring(300, L'\\'), std::wstring(600, L'\\')},
      {std::wstring(1000, L'a') + L"\\", std::wstring(1000, L'a') + L"\\\\"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EscapeBackslashes(c.source), c.expected) << "source length " << c.source.size();
}

TEST_F(WmiClientTest, SearchesWithTheDocumentedQueryAndTakesTheFirstInstance) {
  FakeProvider provider;
  provider.ListController(OwnedVariant::String(L"First"));
  provider.ListController(OwnedVariant::String(L"Second"));
  AnswerAll(provider, 0);
  {
    Connection connection(provider);
    uint32_t version = 0;
    EXPECT_EQ(TbtGetCurrentNvmVersion(version), STATUS_OK);
  }
  ASSERT_EQ(provider.queries.size(), 1u);
  EXPECT_EQ(provider.queries[0].language, L"WQL");
  EXPECT_EQ(provider.queries[0].query, L"select * from SdkTbtController");
  EXPECT_EQ(provider.queries[0].flags, WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY);
  EXPECT_FALSE(provider.queries[0].context);
  ASSERT_EQ(provider.nexts.size(), 1u);
  EXPECT_EQ(provider.nexts[0].timeout, static_cast<LONG>(WBEM_INFINITE));
  EXPECT_EQ(provider.nexts[0].count, 1u);
  ASSERT_EQ(provider.execs.size(), 1u);
  EXPECT_EQ(provider.execs[0].path, PathFor(L"First"));
}

TEST_F(WmiClientTest, InstancePathDoublesBackslashesOfTheControllerIdAndKeepsQuotes) {
  const std::wstring longId = [] {
    std::wstring id;
    for (int i = 0; i < 400; ++i) id += L"PCI\\VEN_8086";  // 4,800 characters, 400 backslashes
    return id;
  }();
  const struct {
    std::wstring id, escaped;
  } cases[] = {
      {L"PCI\\VEN_8086&DEV_15D9\\3&2A8F&0&A8", L"PCI\\\\VEN_8086&DEV_15D9\\\\3&2A8F&0&A8"},
      {L"say \"hi\"", L"say \"hi\""},
      {L"\\\\", L"\\\\\\\\"},
      {L"ends\\", L"ends\\\\"},
      {L"", L""},
      {std::wstring(L"nul\0inside", 10), std::wstring(L"nul\0inside", 10)},
      {longId, EscapeBackslashes(longId)},
  };
  for (const auto& c : cases) {
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(c.id));
    AnswerAll(provider, 0);
    {
      Connection connection(provider);
      uint32_t version = 0;
      EXPECT_EQ(TbtGetCurrentNvmVersion(version), STATUS_OK);
    }
    ASSERT_EQ(provider.execs.size(), 1u);
    EXPECT_EQ(provider.execs[0].path, PathFor(c.escaped)) << "id length " << c.id.size();
  }
  // The long id arrives whole: every character, each backslash twice.
  EXPECT_EQ(EscapeBackslashes(longId).size(), longId.size() + 400);
}

TEST_F(WmiClientTest, NoUsableInstanceIsNotFoundAndIsSearchedAgainOnEveryCall) {
  const struct {
    const char* what;
    void (*setUp)(FakeProvider&);
  } cases[] = {
      {"no instance", [](FakeProvider&) {}},
      {"query fails", [](FakeProvider& p) { p.queryResult = WBEM_E_INVALID_CLASS; }},
      {"ControllerId of type VT_I4", [](FakeProvider& p) { p.ListController(OwnedVariant::I4(7)); }},
      {"ControllerId null", [](FakeProvider& p) { p.ListController(OwnedVariant::Null()); }},
      {"ControllerId missing",
       [](FakeProvider& p) {
         p.instances.push_back({{L"Name", OwnedVariant::String(L"x")}});
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProvider provider;
    c.setUp(provider);
    AnswerAll(provider, 0);
    {
      Connection connection(provider);
      EXPECT_FALSE(TbtFindController());
      EXPECT_EQ(CallAll(), std::vector<TbtStatus>(3, ERR_CONTROLLER_NOT_FOUND));
      EXPECT_EQ(provider.queries.size(), 4u);  // TbtFindController, then once per call
      EXPECT_TRUE(provider.getObjects.empty());
      EXPECT_TRUE(provider.execs.empty());

      // A controller that the provider lists late is found by the next call.
      provider.queryResult = S_OK;
      provider.instances.clear();
      provider.ListController(OwnedVariant::String(L"Late"));
      EXPECT_EQ(CallAll(), std::vector<TbtStatus>(3, STATUS_OK));
      EXPECT_EQ(provider.queries.size(), 5u);  // found once, then kept
      ASSERT_EQ(provider.execs.size(), 3u);
      for (const auto& exec : provider.execs) EXPECT_EQ(exec.path, PathFor(L"Late"));
    }
  }
}

TEST_F(WmiClientTest, GetCurrentNvmVersionSendsNoInParametersAndAsksForNoSignature) {
  FakeProvider provider;
  provider.ListController(OwnedVariant::String(L"C"));
  provider.answers[L"GetCurrentNvmVersion"].out = {{L"ReturnValue", OwnedVariant::I4(0)},
                                                   {L"NvmVersion", OwnedVariant::I4(0x2A)}};
  uint32_t version = 0;
  {
    Connection connection(provider);
    EXPECT_EQ(TbtGetCurrentNvmVersion(version), STATUS_OK);
  }
  EXPECT_EQ(version, 0x2Au);
  ASSERT_EQ(provider.getObjects.size(), 1u);
  EXPECT_EQ(provider.getObjects[0].path, L"SdkTbtController");
  EXPECT_EQ(provider.getObjects[0].flags, 0);
  EXPECT_FALSE(provider.getObjects[0].context);
  EXPECT_FALSE(provider.getObjects[0].callResultAsked);
  ASSERT_EQ(provider.getMethods.size(), 1u);
  EXPECT_EQ(provider.getMethods[0].method, L"GetCurrentNvmVersion");
  EXPECT_EQ(provider.getMethods[0].flags, 0);
  EXPECT_FALSE(provider.getMethods[0].inAsked);
  EXPECT_FALSE(provider.getMethods[0].outAsked);
  EXPECT_TRUE(provider.spawnFlags.empty());
  ASSERT_EQ(provider.execs.size(), 1u);
  const ExecRecord& exec = provider.execs[0];
  EXPECT_EQ(exec.method, L"GetCurrentNvmVersion");
  EXPECT_EQ(exec.flags, 0);  // synchronous
  EXPECT_FALSE(exec.context);
  EXPECT_FALSE(exec.inParamsGiven);
  EXPECT_TRUE(exec.outAsked);
  EXPECT_FALSE(exec.callResultAsked);
}

TEST_F(WmiClientTest, ReadFirmwareStoresOffsetThenLengthAsI4) {
  const struct {
    uint32_t offset, length;
  } cases[] = {{0x217C, 4}, {0, 4}, {0x80000000u, 4}, {0xFFFFFFFCu, 0}};
  for (const auto& c : cases) {
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    provider.answers[L"ReadFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(0)},
                                             {L"data", OwnedVariant::Bytes({0xDE, 0xAD, 0xBE, 0xEF})}};
    uint8_t buffer[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    {
      Connection connection(provider);
      EXPECT_EQ(TbtReadFirmware(c.offset, c.length, buffer), STATUS_OK);
    }
    ASSERT_EQ(provider.getMethods.size(), 1u);
    EXPECT_TRUE(provider.getMethods[0].inAsked);
    EXPECT_FALSE(provider.getMethods[0].outAsked);
    EXPECT_EQ(provider.spawnFlags, std::vector<LONG>{0});
    ASSERT_EQ(provider.execs.size(), 1u);
    const ExecRecord& exec = provider.execs[0];
    EXPECT_EQ(exec.method, L"ReadFirmware");
    EXPECT_TRUE(exec.inParamsGiven);
    ASSERT_EQ(exec.inPuts.size(), 2u);
    EXPECT_EQ(exec.inPuts[0].name, L"offset");
    EXPECT_EQ(exec.inPuts[1].name, L"length");
    for (const PutRecord& put : exec.inPuts) {
      EXPECT_EQ(put.value.Type(), VT_I4);
      EXPECT_EQ(put.flags, 0);
      EXPECT_EQ(put.type, 0);
    }
    EXPECT_EQ(static_cast<uint32_t>(V_I4(&exec.inPuts[0].value.Get())), c.offset);
    EXPECT_EQ(static_cast<uint32_t>(V_I4(&exec.inPuts[1].value.Get())), c.length);
    // Exactly `length` bytes are written, never more.
    const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], i < c.length ? data[i] : 0x55) << "byte " << i;
  }
}

// A success hands on exactly `length` bytes that the provider sent; an answer
// that cannot deliver them all is a failed call that writes nothing.
TEST_F(WmiClientTest, ReadFirmwareSucceedsOnlyWithEveryByteItAskedFor) {
  const uint8_t kUntouched = 0xA5;
  const std::vector<uint8_t> untouched(4, kUntouched);
  const struct {
    const char* what;
    LONG returnValue;
    bool withData;
    OwnedVariant data;
    TbtStatus expected;
    std::vector<uint8_t> buffer;
  } cases[] = {
      {"whole", 0, true, OwnedVariant::Bytes({1, 2, 3, 4}), STATUS_OK, {1, 2, 3, 4}},
      {"longer: the first length bytes",
       0,
       true,
       OwnedVariant::Bytes({1, 2, 3, 4, 5, 6}),
       STATUS_OK,
       {1, 2, 3, 4}},
      {"shorter than length", 0, true, OwnedVariant::Bytes({1, 2}), ERR_PROVIDER_FAILED, untouched},
      {"empty", 0, true, OwnedVariant::Bytes({}), ERR_PROVIDER_FAILED, untouched},
      {"lower bound 1", 0, true, OwnedVariant::Bytes({1, 2, 3, 4}, 1), ERR_PROVIDER_FAILED, untouched},
      {"lower bound -1: every index there, one place off", 0, true, OwnedVariant::Bytes({0, 1, 2, 3, 4}, -1),
       ERR_PROVIDER_FAILED, untouched},
      {"tagged bytes, 4-byte elements", 0, true, OwnedVariant::Bytes({1, 2, 3, 4}, 0, VT_I4, VT_UI1),
       ERR_PROVIDER_FAILED, untouched},
      {"tagged bytes, VT_I1 elements", 0, true, OwnedVariant::Bytes({1, 2, 3, 4}, 0, VT_I1, VT_UI1),
       ERR_PROVIDER_FAILED, untouched},
      {"provider code, data still read",
       static_cast<LONG>(kProviderCode),
       true,
       OwnedVariant::Bytes({9, 8, 7, 6}),
       kProviderCode,
       {9, 8, 7, 6}},
      {"provider code, short data",
       5,
       true,
       OwnedVariant::Bytes({9}),
       5,
       {9, kUntouched, kUntouched, kUntouched}},
      {"not bytes: VT_I4 array", 0, true, OwnedVariant::Bytes({1, 2, 3, 4}, 0, VT_I4), ERR_PROVIDER_FAILED,
       untouched},
      {"not an array", 0, true, OwnedVariant::String(L"\x0102\x0304"), ERR_PROVIDER_FAILED, untouched},
      {"null data", 0, true, OwnedVariant::Null(), ERR_PROVIDER_FAILED, untouched},
      {"no data", 0, false, OwnedVariant(), ERR_PROVIDER_FAILED, untouched},
      {"no data, provider code", 5, false, OwnedVariant(), 5, untouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    auto& out = provider.answers[L"ReadFirmware"].out;
    out[L"ReturnValue"] = OwnedVariant::I4(c.returnValue);
    if (c.withData) out[L"data"] = c.data;
    std::vector<uint8_t> buffer(4, kUntouched);
    {
      Connection connection(provider);
      EXPECT_EQ(TbtReadFirmware(0x10, 4, buffer.data()), c.expected);
    }
    EXPECT_EQ(buffer, c.buffer);
  }
}

TEST_F(WmiClientTest, UpdateFirmwareStoresSizeThenTheImageBytes) {
  std::vector<uint8_t> image(70000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  const struct {
    int32_t size;
    size_t bytes;
  } cases[] = {{static_cast<int32_t>(image.size()), image.size()}, {1, 1}, {0, 0}, {-5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    provider.answers[L"UpdateFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(0)}};
    {
      Connection connection(provider);
      EXPECT_EQ(TbtUpdateFirmware(image.data(), c.size), STATUS_OK);
    }
    ASSERT_EQ(provider.getMethods.size(), 1u);
    EXPECT_TRUE(provider.getMethods[0].inAsked);
    EXPECT_FALSE(provider.getMethods[0].outAsked);
    ASSERT_EQ(provider.execs.size(), 1u);
    const ExecRecord& exec = provider.execs[0];
    EXPECT_EQ(exec.method, L"UpdateFirmware");
    ASSERT_EQ(exec.inPuts.size(), 2u);
    EXPECT_EQ(exec.inPuts[0].name, L"BufferSize");
    EXPECT_EQ(exec.inPuts[0].value.Type(), VT_I4);
    EXPECT_EQ(V_I4(&exec.inPuts[0].value.Get()), c.size);
    EXPECT_EQ(exec.inPuts[1].name, L"Buffer");
    ASSERT_EQ(exec.inPuts[1].value.Type(), VT_ARRAY | VT_UI1);
    SAFEARRAY* psa = V_ARRAY(&exec.inPuts[1].value.Get());
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    LONG lower = -1;
    ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(exec.inPuts[1].value.ArrayBytes(),
              std::vector<uint8_t>(image.begin(), image.begin() + c.bytes));
    for (const PutRecord& put : exec.inPuts) {
      EXPECT_EQ(put.flags, 0);
      EXPECT_EQ(put.type, 0);
    }
  }
}

TEST_F(WmiClientTest, UpdateFirmwareWithoutRoomForTheImageIsNotSent) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "needs the 32-bit address space of the shipped program";
  FakeProvider provider;
  provider.ListController(OwnedVariant::String(L"C"));
  provider.answers[L"UpdateFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(0)}};
  // No 32-bit process can hold a 2 GB array; the bytes are never reached.
  const uint8_t image[16] = {};
  {
    Connection connection(provider);
    EXPECT_EQ(TbtUpdateFirmware(image, 0x7FFFFFF0), ERR_OUT_OF_MEMORY);
  }
  EXPECT_TRUE(provider.execs.empty());
}

TEST_F(WmiClientTest, ReturnValueIsTheStatusAndVersionIsReadWhateverItWas) {
  const struct {
    const char* what;
    bool withReturn;
    OwnedVariant returnValue;
    bool withVersion;
    OwnedVariant version;
    TbtStatus expected;
    uint32_t versionAfter;
  } cases[] = {
      {"success", true, OwnedVariant::I4(0), true, OwnedVariant::I4(0x45), STATUS_OK, 0x45},
      {"provider code, version still written", true, OwnedVariant::I4(static_cast<LONG>(kProviderCode)), true,
       OwnedVariant::I4(0x46), kProviderCode, 0x46},
      {"version with the top bit", true, OwnedVariant::I4(0), true, OwnedVariant::I4(-2), STATUS_OK,
       0xFFFFFFFE},
      {"success without a version", true, OwnedVariant::I4(0), false, OwnedVariant(), ERR_PROVIDER_FAILED,
       0x99},
      {"success with a null version", true, OwnedVariant::I4(0), true, OwnedVariant::Null(),
       ERR_PROVIDER_FAILED, 0x99},
      {"provider code without a version", true, OwnedVariant::I4(12), false, OwnedVariant(), 12, 0x99},
      {"no ReturnValue, version still written", false, OwnedVariant(), true, OwnedVariant::I4(0x47),
       ERR_PROVIDER_FAILED, 0x47},
      {"null ReturnValue", true, OwnedVariant::Null(), true, OwnedVariant::I4(0x48), ERR_PROVIDER_FAILED,
       0x48},
      {"64-bit ReturnValue that fits", true, OwnedVariant::I8(12), true, OwnedVariant::I4(0x49), 12, 0x49},
      {"64-bit ReturnValue beyond 32 bits: not success", true, OwnedVariant::I8(0x100000000LL), true,
       OwnedVariant::I4(0x4A), ERR_PROVIDER_FAILED, 0x4A},
      {"unsigned 64-bit ReturnValue beyond 32 bits", true, OwnedVariant::UI8(0x100000005ULL), true,
       OwnedVariant::I4(0x4B), ERR_PROVIDER_FAILED, 0x4B},
      {"64-bit version beyond 32 bits is no version", true, OwnedVariant::I4(0), true,
       OwnedVariant::UI8(0x100000046ULL), ERR_PROVIDER_FAILED, 0x99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    auto& out = provider.answers[L"GetCurrentNvmVersion"].out;
    if (c.withReturn) out[L"ReturnValue"] = c.returnValue;
    if (c.withVersion) out[L"NvmVersion"] = c.version;
    uint32_t version = 0x99;
    {
      Connection connection(provider);
      EXPECT_EQ(TbtGetCurrentNvmVersion(version), c.expected);
    }
    EXPECT_EQ(version, c.versionAfter);
  }
}

// A provider's own codes pass on unchanged; a value this tool uses for its
// own outcomes never does, from any method, and the log keeps what it was.
TEST_F(WmiClientTest, ProviderCodesPassThroughUnlessTheyAreTheToolsOwn) {
  const struct {
    LONG code;
    TbtStatus expected;
  } cases[] = {
      {0, STATUS_OK},
      {1, 1},
      {static_cast<LONG>(kProviderCode), kProviderCode},
      {0x10430006, ERR_PROVIDER_CODE_RESERVED},  // ERR_IMAGE_MISMATCH
      {0x1043FFFF, ERR_PROVIDER_CODE_RESERVED},  // the family's, used or not
      {1115, ERR_PROVIDER_CODE_RESERVED},        // "the session began to end before the write"
      {1223, ERR_PROVIDER_CODE_RESERVED},        // "closed before any attempt"
      {126, ERR_PROVIDER_CODE_RESERVED},
  };
  SetRunLogSink(KeepLogLine);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    AnswerAll(provider, c.code);
    g_logged.clear();
    {
      Connection connection(provider);
      EXPECT_EQ(CallAll(), std::vector<TbtStatus>(3, c.expected));
    }
    if (c.expected == ERR_PROVIDER_CODE_RESERVED) {
      char raw[16];
      std::snprintf(raw, sizeof raw, "0x%08lX", static_cast<unsigned long>(c.code));
      ASSERT_EQ(g_logged.size(), 3u);
      for (const std::string& line : g_logged) EXPECT_NE(line.find(raw), std::string::npos) << line;
    }
  }
  SetRunLogSink(nullptr);
}

TbtStatus g_gate = STATUS_OK;
TbtStatus AskTheGate(void*) {
  return g_gate;
}

// The write runs only past the run's gate, once its in-parameters are stored,
// and after the caller's last word; the answer says whether the image reached
// the provider and whether it answered.
TEST_F(WmiClientTest, UpdateFirmwareRunsOnlyPastTheGateAndTheHandOverAndSaysWhatCameBack) {
  const struct {
    const char* what;
    void (*setUp)(FakeProvider&);
    TbtStatus gate, handOver, expected;
    int handOvers;
    bool executed, answered;
  } cases[] = {
      {"answered", [](FakeProvider&) {}, STATUS_OK, STATUS_OK, STATUS_OK, 1, true, true},
      {"answered with a failure", [](FakeProvider& p) { AnswerAll(p, 0x1F); }, STATUS_OK, STATUS_OK, 0x1F, 1,
       true, true},
      {"the gate stops it", [](FakeProvider&) {}, STATUS_SESSION_ENDING, STATUS_OK, STATUS_SESSION_ENDING, 0,
       false, false},
      {"the hand-over stops it", [](FakeProvider&) {}, STATUS_OK, ERR_RECORD_UNWRITABLE,
       ERR_RECORD_UNWRITABLE, 1, false, false},
      {"a Buffer not stored", [](FakeProvider& p) { p.putResults[L"Buffer"] = WBEM_E_FAILED; }, STATUS_OK,
       STATUS_OK, ERR_PROVIDER_FAILED, 0, false, false},
      {"the call fails",
       [](FakeProvider& p) { p.answers[L"UpdateFirmware"].result = WBEM_E_PROVIDER_FAILURE; }, STATUS_OK,
       STATUS_OK, ERR_PROVIDER_FAILED, 1, true, false},
      {"no ReturnValue", [](FakeProvider& p) { p.answers[L"UpdateFirmware"].out.erase(L"ReturnValue"); },
       STATUS_OK, STATUS_OK, ERR_PROVIDER_FAILED, 1, true, false},
  };
  TbtSetCallGate(AskTheGate, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    AnswerAll(provider, 0);
    c.setUp(provider);
    g_gate = c.gate;
    int handOvers = 0;
    TbtWriteAnswer answer;
    const uint8_t image[3] = {7, 8, 9};
    {
      Connection connection(provider);
      EXPECT_EQ(TbtUpdateFirmware(
                    image, 3,
                    [&] {
                      ++handOvers;
                      return c.handOver;
                    },
                    answer),
                c.expected);
    }
    EXPECT_EQ(handOvers, c.handOvers) << "asked once, after both in-parameters were stored";
    EXPECT_EQ(provider.execs.size(), c.executed ? 1u : 0u);
    EXPECT_EQ(answer.executed, c.executed);
    EXPECT_EQ(answer.answered, c.answered);
  }
  TbtSetCallGate(nullptr, nullptr);
  g_gate = STATUS_OK;
}

// The log of each call says what became of it: the step that stopped it, and
// that the method was then not executed, or what the answer lacked.
TEST_F(WmiClientTest, EveryFailedStepIsProviderFailedAndReleasesWhatItGot) {
  const std::string kFailed = ": 0x10430003 ERR_PROVIDER_FAILED";
  const std::string kVersion = "GetCurrentNvmVersion" + kFailed + "; ";
  const std::string kRead = "ReadFirmware offset 0x0, length 4" + kFailed + "; ";
  const std::string kUpdate = "UpdateFirmware 3 bytes" + kFailed + "; ";
  const std::string kReadOk = "ReadFirmware offset 0x0, length 4: 0x00000000 STATUS_OK";
  const std::string kNotRun = ", so the method was not executed";
  const struct {
    const char* what;
    void (*setUp)(FakeProvider&);
    std::vector<TbtStatus> expected;  // GetCurrentNvmVersion, ReadFirmware, UpdateFirmware
    size_t execs;
    std::vector<std::string> logged;  // the three calls' lines
  } cases[] = {
      {"class object",
       [](FakeProvider& p) { p.getObjectResult = WBEM_E_ACCESS_DENIED; },
       {ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       0,
       {kVersion + "class SdkTbtController not available" + kNotRun,
        kRead + "class SdkTbtController not available" + kNotRun,
        kUpdate + "class SdkTbtController not available" + kNotRun}},
      {"method signature",
       [](FakeProvider& p) { p.getMethodResult = WBEM_E_FAILED; },
       {ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       0,
       {kVersion + "the class has no such method, so it was not executed",
        kRead + "the class has no such method, so it was not executed",
        kUpdate + "the class has no such method, so it was not executed"}},
      {"method missing",
       [](FakeProvider& p) { p.methods.clear(); },
       {ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       0,
       {kVersion + "the class has no such method, so it was not executed",
        kRead + "the class has no such method, so it was not executed",
        kUpdate + "the class has no such method, so it was not executed"}},
      {"no in-signature",
       [](FakeProvider& p) {
         p.methods = {{L"ReadFirmware", false}, {L"UpdateFirmware", false}, {L"GetCurrentNvmVersion", false}};
       },
       {STATUS_OK, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       1,
       {"GetCurrentNvmVersion: 0x00000000 STATUS_OK, version 0x33",
        kRead + "no in-parameter object" + kNotRun, kUpdate + "no in-parameter object" + kNotRun}},
      {"in-parameter object",
       [](FakeProvider& p) { p.spawnResult = WBEM_E_OUT_OF_MEMORY; },
       {STATUS_OK, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       1,
       {"GetCurrentNvmVersion: 0x00000000 STATUS_OK, version 0x33",
        kRead + "no in-parameter object" + kNotRun, kUpdate + "no in-parameter object" + kNotRun}},
      {"execution",
       [](FakeProvider& p) {
         for (auto& a : p.answers) a.second.result = WBEM_E_PROVIDER_FAILURE;
       },
       {ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       3,
       {kVersion + "the call failed (HRESULT 0x80041004)", kRead + "the call failed (HRESULT 0x80041004)",
        kUpdate + "the call failed (HRESULT 0x80041004)"}},
      {"no out-parameters",
       [](FakeProvider& p) {
         for (auto& a : p.answers) a.second.noOutParams = true;
       },
       {ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       3,
       {kVersion + "no answer came back", kRead + "no answer came back", kUpdate + "no answer came back"}},
      // A parameter that did not arrive stops the call before it is executed.
      {"Put of offset and Buffer",
       [](FakeProvider& p) {
         p.putResults[L"offset"] = WBEM_E_TYPE_MISMATCH;
         p.putResults[L"Buffer"] = WBEM_E_FAILED;
       },
       {STATUS_OK, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       1,
       {"GetCurrentNvmVersion: 0x00000000 STATUS_OK, version 0x33",
        kRead + "in-parameter offset not stored (HRESULT 0x80041005)" + kNotRun,
        kUpdate + "in-parameter Buffer not stored (HRESULT 0x80041001)" + kNotRun}},
      {"Put of length and BufferSize",
       [](FakeProvider& p) {
         p.putResults[L"length"] = WBEM_E_FAILED;
         p.putResults[L"BufferSize"] = WBEM_E_FAILED;
       },
       {STATUS_OK, ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED},
       1,
       {"GetCurrentNvmVersion: 0x00000000 STATUS_OK, version 0x33",
        kRead + "in-parameter length not stored (HRESULT 0x80041001)" + kNotRun,
        kUpdate + "in-parameter BufferSize not stored (HRESULT 0x80041001)" + kNotRun}},
      // Answers that lack what a success needs, and a failed call's version.
      {"short, missing, failed",
       [](FakeProvider& p) {
         p.answers[L"GetCurrentNvmVersion"].out[L"ReturnValue"] = OwnedVariant::I4(0x1F);
         p.answers[L"ReadFirmware"].out[L"data"] = OwnedVariant::Bytes({1, 2, 3});
       },
       {0x1F, ERR_PROVIDER_FAILED, STATUS_OK},
       3,
       {"GetCurrentNvmVersion: 0x0000001F provider code", kRead + "short answer: 3 of 4 bytes",
        "UpdateFirmware 3 bytes: 0x00000000 STATUS_OK"}},
      {"no data, no version",
       [](FakeProvider& p) {
         p.answers[L"GetCurrentNvmVersion"].out.erase(L"NvmVersion");
         p.answers[L"ReadFirmware"].out.erase(L"data");
       },
       {ERR_PROVIDER_FAILED, ERR_PROVIDER_FAILED, STATUS_OK},
       3,
       {kVersion + "the answer has no NvmVersion", kRead + "the answer has no data",
        "UpdateFirmware 3 bytes: 0x00000000 STATUS_OK"}},
  };
  SetRunLogSink(KeepLogLine);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    AnswerAll(provider, 0);
    c.setUp(provider);
    g_logged.clear();
    {
      Connection connection(provider);
      EXPECT_EQ(CallAll(), c.expected);
    }
    EXPECT_EQ(provider.execs.size(), c.execs);
    EXPECT_EQ(g_logged, c.logged);
  }
  SetRunLogSink(nullptr);
}

// A locator handed out in place of the platform's, recording what the client asks of it.
class FakeLocator : public FakeCom<IWbemLocator> {
 public:
  IWbemServices* services = nullptr;  // what ConnectServer yields
  HRESULT result = S_OK;
  std::vector<std::wstring> calls;
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR ns, const BSTR user, const BSTR password,
                                          const BSTR locale, LONG flags, const BSTR authority,
                                          IWbemContext* ctx, IWbemServices** ppNamespace) override {
    auto text = [](const BSTR b) { return b ? std::wstring(b) : std::wstring(L"null"); };
    calls.push_back(text(ns) + L"|" + text(user) + L"|" + text(password) + L"|" + text(locale) + L"|" +
                    std::to_wstring(flags) + L"|" + text(authority) + L"|" + (ctx ? L"ctx" : L"null"));
    if (FAILED(result)) return result;
    services->AddRef();
    *ppNamespace = services;
    return S_OK;
  }
};

struct CreateRecord {
  CLSID clsid;
  DWORD context;
  IID iid;
};
FakeLocator* g_pLocator = nullptr;
std::vector<CreateRecord> g_creates;

HRESULT WINAPI CreateFakeLocator(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* ppv) {
  g_creates.push_back({clsid, context, iid});
  if (outer) return CLASS_E_NOAGGREGATION;
  return g_pLocator->QueryInterface(iid, ppv);
}

TEST_F(WmiClientTest, ConnectsOnceThroughTheLocatorWithTheNamespaceAlone) {
  for (HRESULT connectResult : {S_OK, static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)}) {
    SCOPED_TRACE(connectResult);
    FakeProvider provider;
    FakeLocator locator;
    locator.services = &provider.services;
    locator.result = connectResult;
    g_pLocator = &locator;
    g_creates.clear();
    TbtConnectWithServices(nullptr);
    {
      ImportPatch patch("ole32.dll", "CoCreateInstance", reinterpret_cast<void*>(CreateFakeLocator));
      ASSERT_TRUE(patch.Active());
      EXPECT_EQ(TbtConnect(), connectResult == S_OK);
      EXPECT_EQ(TbtConnect(), connectResult == S_OK);  // a kept connection is not made again
    }
    ASSERT_EQ(g_creates.size(), connectResult == S_OK ? 1u : 2u);
    EXPECT_TRUE(IsEqualCLSID(g_creates[0].clsid, CLSID_WbemLocator));
    EXPECT_TRUE(IsEqualIID(g_creates[0].iid, IID_IWbemLocator));
    EXPECT_EQ(g_creates[0].context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
    // No user, password, locale, authority or context; security flags 0.
    EXPECT_EQ(locator.calls[0], L"ROOT\\Intel\\Thunderbolt|null|null|null|0|null|null");
    EXPECT_EQ(locator.Refs(), 0) << "the locator is released whatever the outcome";
    EXPECT_EQ(provider.services.Refs(), connectResult == S_OK ? 1 : 0);
    TbtConnectWithServices(nullptr);
    EXPECT_EQ(provider.services.Refs(), 0);
    g_pLocator = nullptr;
  }
}

TEST_F(WmiClientTest, CallsWithoutAConnectionFailWithoutReachingAnything) {
  FakeProvider provider;
  provider.ListController(OwnedVariant::String(L"C"));
  AnswerAll(provider, 0);
  TbtConnectWithServices(nullptr);
  EXPECT_FALSE(TbtFindController());
  EXPECT_EQ(CallAll(), std::vector<TbtStatus>(3, ERR_PROVIDER_FAILED));
  EXPECT_TRUE(provider.queries.empty());
  EXPECT_EQ(provider.Leaks(0), "");
}

TEST_F(WmiClientTest, EveryCallFetchesClassAndSignatureAfresh) {
  FakeProvider provider;
  provider.ListController(OwnedVariant::String(L"C"));
  AnswerAll(provider, 0);
  {
    Connection connection(provider);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CallAll(), std::vector<TbtStatus>(3, STATUS_OK));
  }
  EXPECT_EQ(provider.queries.size(), 1u);
  EXPECT_EQ(provider.getObjects.size(), 9u);
  EXPECT_EQ(provider.getMethods.size(), 9u);
  EXPECT_EQ(provider.spawnFlags.size(), 6u);
  EXPECT_EQ(provider.execs.size(), 9u);
}

// Counts the COM task-memory blocks (BSTRs, SAFEARRAYs, VARIANT contents)
// that are allocated and not freed while it is registered.
class LiveBlockSpy : public IMallocSpy {
 public:
  std::set<void*> live;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cb) override { return cb; }
  void* STDMETHODCALLTYPE PostAlloc(void* p) override {
    if (p) live.insert(p);
    return p;
  }
  void* STDMETHODCALLTYPE PreFree(void* p, WINBOOL spyed) override {
    if (spyed) live.erase(p);
    return p;
  }
  void STDMETHODCALLTYPE PostFree(WINBOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* p, SIZE_T cb, void** ppNew, WINBOOL spyed) override {
    if (spyed) live.erase(p);
    *ppNew = p;
    return cb;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* p, WINBOOL) override {
    if (p) live.insert(p);
    return p;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* p, WINBOOL) override { return p; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cb, WINBOOL) override { return cb; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* p, WINBOOL) override { return p; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, WINBOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

TEST_F(WmiClientTest, StringsArraysAndVariantsAreFreedExactlyOnce) {
  // oleaut32 keeps freed strings in a cache unless OANOCACHE is set; cached
  // strings would look leaked here.
  if (GetEnvironmentVariableW(L"OANOCACHE", nullptr, 0) == 0)
    GTEST_SKIP() << "needs OANOCACHE=1 (set by CTest)";
  LiveBlockSpy spy;
  ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
  {
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"PCI\\VEN_8086"));
    AnswerAll(provider, 0);
    Connection connection(provider);
    std::vector<uint8_t> image(5000, 0x5A);
    uint32_t version = 0;
    uint8_t buffer[4];
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(TbtGetCurrentNvmVersion(version), STATUS_OK);
      EXPECT_EQ(TbtReadFirmware(4, 4, buffer), STATUS_OK);
      EXPECT_EQ(TbtUpdateFirmware(image.data(), static_cast<int32_t>(image.size())), STATUS_OK);
    }
  }
  EXPECT_EQ(spy.live.size(), 0u) << "COM memory blocks left allocated";
  CoRevokeMallocSpy();
}

}  // namespace
