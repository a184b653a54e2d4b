// The resources of the built TbtFwUpdate.exe, read from the file the way the
// system reads them: art through the image loader, the icon directory, the
// dialog template's bytes, the version resource and the manifest.
#include <windows.h>
#include <msxml2.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "ui/resource_image.h"

namespace {

std::wstring BesideThisProgram(const wchar_t* name) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.rfind(L'\\') + 1) + name;
}

const std::wstring& ProductPath() {
  static const std::wstring path = BesideThisProgram(L"TbtFwUpdate.exe");
  return path;
}

class ProductResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_hModule = LoadLibraryExW(ProductPath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  static void TearDownTestSuite() {
    if (s_hModule) FreeLibrary(s_hModule);
    s_hModule = nullptr;
  }
  void SetUp() override { ASSERT_NE(s_hModule, nullptr) << "cannot open the product's resources"; }

  // The raw bytes of one resource, or an empty range.
  static std::pair<const BYTE*, DWORD> Raw(LPCWSTR name, LPCWSTR type) {
    HRSRC res = FindResourceW(s_hModule, name, type);
    if (!res) return {nullptr, 0};
    HGLOBAL data = LoadResource(s_hModule, res);
    return {static_cast<const BYTE*>(LockResource(data)), SizeofResource(s_hModule, res)};
  }

  static HMODULE s_hModule;
};
HMODULE ProductResources::s_hModule = nullptr;

// ---------------------------------------------------------------------------
// Art

// Every piece of art is a shape over the card, so its corners are clear; the
// caution triangle reaches its bottom edge, so resizing blends a little colour
// into its corners. The card, the illustration and the button bodies are opaque
// where text or the spinner sits on them.
struct ArtItem {
  UINT id;
  UINT width, height;
  bool clearCornersWhenHalved;
  bool opaqueCentre;
};

const ArtItem kArt[] = {
    {129, 1560, 1240, true, true}, {130, 76, 76, true, false},   {131, 76, 76, true, false},
    {132, 76, 76, true, false},    {133, 76, 76, true, false},   {134, 30, 30, true, false},
    {135, 1448, 568, true, true},  {136, 48, 43, false, false},  {137, 368, 76, true, true},
    {138, 368, 76, true, true},    {139, 368, 76, true, true},   {140, 368, 76, true, true},
    {141, 132, 132, true, false},  {142, 132, 132, true, false}, {143, 132, 132, true, false},
    {144, 132, 132, true, false},  {145, 132, 132, true, false}, {146, 132, 132, true, false},
    {147, 132, 132, true, false},  {148, 132, 132, true, false}, {150, 508, 76, true, true},
    {151, 508, 76, true, true},    {152, 508, 76, true, true},   {153, 508, 76, true, true},
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* ids = reinterpret_cast<std::set<UINT>*>(param);
  ids->insert(IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)) : 0u);
  return TRUE;
}

TEST_F(ProductResources, ArtIdsAreExactlyTheDesignedOnes) {
  std::set<UINT> ids;
  EnumResourceNamesW(s_hModule, L"IMG", CollectName, reinterpret_cast<LONG_PTR>(&ids));
  std::set<UINT> expected;
  for (const auto& art : kArt) expected.insert(art.id);
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(ids.count(IDC_BULLET), 0u) << "149 is a control id, not art";
}

TEST_F(ProductResources, ArtIsEightBitRgbaPng) {
  for (const auto& art : kArt) {
    SCOPED_TRACE(testing::Message() << "IMG " << art.id);
    auto [bytes, size] = Raw(MAKEINTRESOURCEW(art.id), L"IMG");
    ASSERT_GE(size, 33u);
    EXPECT_EQ(std::memcmp(bytes, "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), 0);
    auto be32 = [&](int at) {
      return DWORD(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
    };
    EXPECT_EQ(be32(16), art.width);
    EXPECT_EQ(be32(20), art.height);
    EXPECT_EQ(bytes[24], 8) << "bit depth";
    EXPECT_EQ(bytes[25], 6) << "colour type: RGB with alpha";
  }
}

BYTE AlphaAt(Gdiplus::Bitmap& bitmap, INT x, INT y) {
  Gdiplus::Color c;
  bitmap.GetPixel(x, y, &c);
  return c.GetA();
}

TEST_F(ProductResources, ArtDecodesAtBothScalesWithItsTransparency) {
  for (double scale : {1.0, 0.5}) {
    for (const auto& art : kArt) {
      SCOPED_TRACE(testing::Message() << "IMG " << art.id << " at " << scale);
      std::unique_ptr<ResourceImage> image(LoadResourceImage(art.id, L"IMG", s_hModule, scale));
      ASSERT_NE(image, nullptr);
      const UINT w = static_cast<UINT>(art.width * scale), h = static_cast<UINT>(art.height * scale);
      ASSERT_EQ(image->GetWidth(), w);
      ASSERT_EQ(image->GetHeight(), h);
      // Held as the surface draws it: 32 bits with premultiplied alpha.
      EXPECT_EQ(image->GetPixelFormat(), PixelFormat32bppPARGB);

      Gdiplus::Bitmap copy(static_cast<INT>(w), static_cast<INT>(h), PixelFormat32bppARGB);
      {
        Gdiplus::Graphics g(&copy);
        g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        g.DrawImage(image.get(), 0, 0, static_cast<INT>(w), static_cast<INT>(h));
      }
      if (scale == 1.0 || art.clearCornersWhenHalved) {
        EXPECT_EQ(AlphaAt(copy, 0, 0), 0);
        EXPECT_EQ(AlphaAt(copy, w - 1, 0), 0);
        EXPECT_EQ(AlphaAt(copy, 0, h - 1), 0);
        EXPECT_EQ(AlphaAt(copy, w - 1, h - 1), 0);
      }
      if (art.opaqueCentre) {
        EXPECT_EQ(AlphaAt(copy, w / 2, h / 2), 0xFF);
      }
    }
  }
}

// The spinner frames differ from one another, or the animation would stand still.
TEST_F(ProductResources, SpinnerFramesAreDistinct) {
  std::set<std::vector<BYTE>> frames;
  for (UINT id = IDB_SPINNER_FIRST; id <= IDB_SPINNER_LAST; ++id) {
    auto [bytes, size] = Raw(MAKEINTRESOURCEW(id), L"IMG");
    frames.insert(std::vector<BYTE>(bytes, bytes + size));
  }
  EXPECT_EQ(frames.size(), 8u);
}

// ---------------------------------------------------------------------------
// Icon group 128

#pragma pack(push, 2)
struct GroupIconDir {
  WORD reserved;
  WORD type;
  WORD count;
};
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ProductResources, IconGroupHoldsTheSeventeenImages) {
  auto [bytes, size] = Raw(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
  ASSERT_GE(size, sizeof(GroupIconDir));
  GroupIconDir dir;
  std::memcpy(&dir, bytes, sizeof(dir));
  EXPECT_EQ(dir.reserved, 0);
  EXPECT_EQ(dir.type, 1) << "icons, not cursors";
  ASSERT_EQ(dir.count, 17);
  ASSERT_GE(size, sizeof(GroupIconDir) + dir.count * sizeof(GroupIconEntry));

  std::multiset<std::pair<int, int>> found;  // (pixels, bits per pixel)
  for (WORD i = 0; i < dir.count; ++i) {
    GroupIconEntry e;
    std::memcpy(&e, bytes + sizeof(GroupIconDir) + i * sizeof(GroupIconEntry), sizeof(e));
    const int side = e.width ? e.width : 256;
    EXPECT_EQ(e.height ? e.height : 256, side) << "square";
    found.insert({side, e.bitCount});
    auto [image, imageSize] = Raw(MAKEINTRESOURCEW(e.id), RT_ICON);
    EXPECT_NE(image, nullptr) << "icon image " << e.id;
    EXPECT_EQ(imageSize, e.bytesInRes) << "icon image " << e.id;
  }
  const std::multiset<std::pair<int, int>> expected = {
      {256, 4}, {48, 4},   {32, 4},   {24, 4},  {16, 4},  {256, 8}, {48, 8},  {32, 8},  {24, 8},
      {16, 8},  {256, 32}, {128, 32}, {96, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32},
  };
  EXPECT_EQ(found, expected);
}

TEST_F(ProductResources, IconImagesMakeIcons) {
  auto [group, groupSize] = Raw(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  for (int side : {16, 24, 32, 48, 256}) {
    SCOPED_TRACE(testing::Message() << side << " px");
    const int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE, side, side, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0);
    auto [image, size] = Raw(MAKEINTRESOURCEW(id), RT_ICON);
    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image), size, TRUE, 0x00030000, side, side,
                                          LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, side);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

// ---------------------------------------------------------------------------
// Dialog template 100

// Reads a resource's bytes with every read checked against its end.
class TemplateReader {
 public:
  TemplateReader(const BYTE* bytes, size_t size) : m_pBytes(bytes), m_nSize(size) {}
  bool ok() const { return m_bOk; }

  template <class T>
  T Get() {
    T v{};
    if (m_nPos + sizeof(T) > m_nSize) {
      m_bOk = false;
      return v;
    }
    std::memcpy(&v, m_pBytes + m_nPos, sizeof(T));
    m_nPos += sizeof(T);
    return v;
  }
  std::wstring String() {
    std::wstring s;
    for (WCHAR c = Get<WCHAR>(); m_bOk && c != 0; c = Get<WCHAR>()) s.push_back(c);
    return s;
  }
  // A name that is either 0xFFFF and an ordinal, or a string.
  std::wstring NameOrOrdinal(WORD* ordinal) {
    *ordinal = 0;
    if (m_nPos + 2 <= m_nSize && m_pBytes[m_nPos] == 0xFF && m_pBytes[m_nPos + 1] == 0xFF) {
      Get<WORD>();
      *ordinal = Get<WORD>();
      return {};
    }
    return String();
  }
  void AlignToDword() { m_nPos = (m_nPos + 3) & ~size_t(3); }

 private:
  const BYTE* m_pBytes;
  size_t m_nSize;
  size_t m_nPos = 0;
  bool m_bOk = true;
};

TEST_F(ProductResources, DialogTemplateIsTheExtendedTemplateOfTwelveBareControls) {
  auto [bytes, size] = Raw(MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), RT_DIALOG);
  ASSERT_NE(bytes, nullptr);
  TemplateReader r(bytes, size);

  EXPECT_EQ(r.Get<WORD>(), 1) << "dlgVer";
  EXPECT_EQ(r.Get<WORD>(), 0xFFFF) << "extended template signature";
  EXPECT_EQ(r.Get<DWORD>(), 0u) << "help id";
  EXPECT_EQ(r.Get<DWORD>(), DWORD(WS_EX_APPWINDOW));
  EXPECT_EQ(r.Get<DWORD>(), DWORD(WS_VISIBLE | WS_CAPTION | DS_SETFONT));
  const WORD count = r.Get<WORD>();
  EXPECT_EQ(count, 12);
  EXPECT_EQ(r.Get<short>(), 0);
  EXPECT_EQ(r.Get<short>(), 0);
  EXPECT_EQ(r.Get<short>(), 320);
  EXPECT_EQ(r.Get<short>(), 200);
  WORD ordinal;
  EXPECT_EQ(r.NameOrOrdinal(&ordinal), L"");
  EXPECT_EQ(ordinal, 0) << "no menu";
  EXPECT_EQ(r.NameOrOrdinal(&ordinal), L"");
  EXPECT_EQ(ordinal, 0) << "the standard dialog class";
  r.String();  // the caption, replaced at run time
  EXPECT_EQ(r.Get<WORD>(), 8) << "point size";
  EXPECT_EQ(r.Get<WORD>(), 0) << "weight";
  EXPECT_EQ(r.Get<BYTE>(), 0) << "italic";
  EXPECT_EQ(r.Get<BYTE>(), 1) << "character set";
  EXPECT_EQ(r.String(), L"MS Sans Serif");
  ASSERT_TRUE(r.ok());

  constexpr WORD kButton = 0x0080, kStatic = 0x0082;
  constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  constexpr DWORD kStaticStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
  const struct {
    DWORD id;
    WORD cls;
    DWORD style;
  } expected[] = {
      {IDOK, kButton, kButtonStyle},
      {IDCANCEL, kButton, kButtonStyle},
      {IDC_UPDATE, kButton, kButtonStyle},
      {IDC_SHUTDOWN, kButton, kButtonStyle},
      {IDC_LATER, kButton, kButtonStyle},
      {IDC_BULLET, kStatic, kStaticStyle},
      {IDC_ILLUSTRATION, kStatic, kStaticStyle},
      {IDC_CAUTION_ICON, kStatic, kStaticStyle},
      {IDC_MESSAGE, kStatic, kStaticStyle},
      {IDC_CAUTION, kStatic, kStaticStyle},
      {IDC_SPINNER, kStatic, kStaticStyle},
      {IDC_VERSION, kStatic, kStaticStyle},
  };
  ASSERT_EQ(count, std::size(expected));
  for (const auto& e : expected) {
    SCOPED_TRACE(testing::Message() << "control " << e.id);
    r.AlignToDword();
    EXPECT_EQ(r.Get<DWORD>(), 0u) << "help id";
    EXPECT_EQ(r.Get<DWORD>(), 0u) << "extended style";
    EXPECT_EQ(r.Get<DWORD>(), e.style);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.Get<short>(), 0) << "position and size";
    EXPECT_EQ(r.Get<DWORD>(), e.id);
    // The predefined class by ordinal, or by name, which the dialog manager resolves alike.
    WORD cls = 0;
    const std::wstring className = r.NameOrOrdinal(&cls);
    if (cls == 0) {
      EXPECT_EQ(
          CompareStringOrdinal(className.c_str(), -1, e.cls == kButton ? L"Button" : L"Static", -1, TRUE),
          CSTR_EQUAL)
          << std::string(className.begin(), className.end());
    } else {
      EXPECT_EQ(cls, e.cls);
    }
    WORD titleOrdinal = 0;
    EXPECT_EQ(r.NameOrOrdinal(&titleOrdinal), L"");
    EXPECT_EQ(titleOrdinal, 0) << "empty caption";
    const WORD extra = r.Get<WORD>();
    EXPECT_EQ(extra, 0) << "creation data";
    ASSERT_TRUE(r.ok());
  }
}

// ---------------------------------------------------------------------------
// Version resource

TEST_F(ProductResources, VersionResourceIs1_0_0_10) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(ProductPath().c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_EQ(GetFileVersionInfoW(ProductPath().c_str(), 0, size, block.data()), TRUE);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  ASSERT_GE(len, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x0000000Au);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x0000000Au);
  EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask & (VS_FF_DEBUG | VS_FF_PRERELEASE), 0u);

  // As the version label formats it.
  wchar_t label[32];
  swprintf(label, 32, L"V%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  EXPECT_STREQ(label, L"V1.0.0.10");

  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &len));
  ASSERT_GE(len, sizeof(Translation));
  EXPECT_EQ(translation->language, 0x0409);
  EXPECT_EQ(translation->codePage, 1200);

  const std::map<std::wstring, std::wstring> strings = {
      {L"CompanyName", L"Vorn"},
      {L"FileDescription", L"Vorn Thunderbolt Firmware Update Tool"},
      {L"ProductName", L"Vorn Thunderbolt Firmware Update Tool"},
      {L"FileVersion", L"1.0.0.10"},
      {L"ProductVersion", L"1.0.0.10"},
      {L"InternalName", L"TbtFwUpdate.exe"},
      {L"OriginalFilename", L"TbtFwUpdate.exe"},
      {L"LegalCopyright", L"Copyright \x00A9 Vorn. All rights reserved."},
  };
  for (const auto& [name, value] : strings) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &len));
    EXPECT_EQ(std::wstring(text), value);
  }
}

// ---------------------------------------------------------------------------
// Manifest, read by the platform's XML parser

struct ComSession {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComSession() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

struct BStr {
  BSTR p;
  explicit BStr(const wchar_t* s) : p(SysAllocString(s)) {}
  BStr() : p(nullptr) {}
  ~BStr() { SysFreeString(p); }
};

template <class T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
};

// The headers name these without their GUIDs.
constexpr GUID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
constexpr GUID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

class Manifest {
 public:
  explicit Manifest(const std::wstring& xml) {
    if (FAILED(CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                reinterpret_cast<void**>(&m_doc)))) {
      return;
    }
    m_doc->put_async(VARIANT_FALSE);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    BStr text(xml.c_str());
    m_doc->loadXML(text.p, &loaded);
    m_bLoaded = loaded == VARIANT_TRUE;
    SetProperty(L"SelectionLanguage", L"XPath");
    SetProperty(L"SelectionNamespaces",
                L"xmlns:a='urn:schemas-microsoft-com:asm.v1' xmlns:v3='urn:schemas-microsoft-com:asm.v3' "
                L"xmlns:c='urn:schemas-microsoft-com:compatibility.v1' "
                L"xmlns:ws='http://schemas.microsoft.com/SMI/2005/WindowsSettings' "
                L"xmlns:ws16='http://schemas.microsoft.com/SMI/2016/WindowsSettings'");
  }
  bool loaded() const { return m_bLoaded; }

  // Texts of every node the XPath expression selects.
  std::vector<std::wstring> Select(const wchar_t* xpath) {
    std::vector<std::wstring> texts;
    if (!m_doc.p) return texts;
    ComPtr<IXMLDOMNodeList> nodes;
    BStr query(xpath);
    if (FAILED(m_doc->selectNodes(query.p, &nodes)) || !nodes.p) return texts;
    for (;;) {
      ComPtr<IXMLDOMNode> node;
      if (nodes->nextNode(&node) != S_OK || !node.p) break;
      BStr text;
      node->get_text(&text.p);
      texts.emplace_back(text.p ? text.p : L"");
    }
    return texts;
  }

 private:
  void SetProperty(const wchar_t* name, const wchar_t* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    BStr n(name);
    m_doc->setProperty(n.p, v);
    VariantClear(&v);
  }

  ComPtr<IXMLDOMDocument2> m_doc;
  bool m_bLoaded = false;
};

TEST_F(ProductResources, ManifestAsksForAdministratorAndSystemDpiAwareness) {
  auto [bytes, size] = Raw(MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(bytes, nullptr);
  std::wstring xml(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                                       static_cast<int>(size), nullptr, 0),
                   L'\0');
  ASSERT_FALSE(xml.empty()) << "not UTF-8";
  MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(size), xml.data(),
                      static_cast<int>(xml.size()));

  ComSession com;
  Manifest m(xml);
  ASSERT_TRUE(m.loaded()) << "the manifest is not well-formed XML";

  using V = std::vector<std::wstring>;
  EXPECT_EQ(m.Select(L"/a:assembly/v3:trustInfo/v3:security/v3:requestedPrivileges/"
                     L"v3:requestedExecutionLevel/@level"),
            V{L"requireAdministrator"});
  EXPECT_EQ(m.Select(L"/a:assembly/v3:trustInfo/v3:security/v3:requestedPrivileges/"
                     L"v3:requestedExecutionLevel/@uiAccess"),
            V{L"false"});
  EXPECT_EQ(m.Select(L"/a:assembly/v3:application/v3:windowsSettings/ws:dpiAware"), V{L"true"});
  EXPECT_EQ(m.Select(L"//ws16:dpiAwareness"), V{}) << "system awareness only, not per monitor";

  const std::vector<std::wstring> os =
      m.Select(L"/a:assembly/c:compatibility/c:application/c:supportedOS/@Id");
  const std::set<std::wstring> supported(os.begin(), os.end());
  const std::set<std::wstring> expected = {
      L"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
      L"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
      L"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
      L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
  };
  EXPECT_EQ(supported, expected);
  EXPECT_EQ(os.size(), 4u);
}

}  // namespace
