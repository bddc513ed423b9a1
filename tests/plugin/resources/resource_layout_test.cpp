// The resources of the built plug-in, read back byte by byte: dialog 101,
// string block 1 and the version block. The host and the platform's dialog
// manager read these bytes, not the resource script, so the expected values
// are written out here rather than taken from the script.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_config.h"

namespace {

constexpr WORD kJapanese = 0x0411;
constexpr int kDialogId = 101;

// A cursor over a resource's bytes that refuses to read past its end.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t offset() const { return offset_; }
  size_t size() const { return size_; }
  bool overran() const { return overran_; }

  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) > size_) {
      overran_ = true;
      offset_ = size_;
      return value;
    }
    memcpy(&value, data_ + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }
  uint16_t Word() { return Read<uint16_t>(); }
  uint32_t Dword() { return Read<uint32_t>(); }
  int16_t Short() { return Read<int16_t>(); }
  uint8_t Byte() { return Read<uint8_t>(); }

  // A NUL-terminated UTF-16 string; the terminator is consumed.
  std::u16string String() {
    std::u16string text;
    for (;;) {
      uint16_t unit = Word();
      if (unit == 0 || overran_) return text;
      text.push_back(static_cast<char16_t>(unit));
    }
  }
  // Exactly `count` UTF-16 units, without looking for a terminator.
  std::u16string Units(size_t count) {
    std::u16string text;
    for (size_t i = 0; i < count && !overran_; ++i) text.push_back(static_cast<char16_t>(Word()));
    return text;
  }
  void AlignDword() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }
  void Seek(size_t offset) {
    if (offset > size_) overran_ = true;
    offset_ = offset > size_ ? size_ : offset;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  bool overran_ = false;
};

// A sz_Or_Ord field: an ordinal (0xFFFF then the value), a string, or empty.
struct NameOrOrdinal {
  bool isOrdinal = false;
  uint16_t ordinal = 0;
  std::u16string name;
};

NameOrOrdinal ReadNameOrOrdinal(Reader& reader) {
  NameOrOrdinal field;
  uint16_t first = reader.Word();
  if (first == 0xFFFF) {
    field.isOrdinal = true;
    field.ordinal = reader.Word();
  } else if (first != 0) {
    field.name.push_back(static_cast<char16_t>(first));
    field.name += reader.String();
  }
  return field;
}

// gtest prints u16string as code points; keep failures readable.
std::string Hex(const std::u16string& text) {
  std::string out;
  char unit[8];
  for (char16_t c : text) {
    wsprintfA(unit, c < 0x80 && c >= 0x20 ? "%c" : "\\x%04x", c);
    out += unit;
  }
  return out;
}
#define EXPECT_TEXT(expected, actual) \
  EXPECT_EQ(std::u16string(expected), actual) << "actual: " << Hex(actual)

class PluginResources : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryExA(PLUGIN_DLL_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(nullptr, module_) << PLUGIN_DLL_PATH; }

  // The bytes of a resource under the Japanese language, or nothing.
  static std::vector<uint8_t> Bytes(LPCWSTR type, LPCWSTR name) {
    HRSRC info = FindResourceExW(module_, type, name, kJapanese);
    if (info == nullptr) return {};
    HGLOBAL handle = LoadResource(module_, info);
    const uint8_t* data = static_cast<const uint8_t*>(LockResource(handle));
    if (data == nullptr) return {};
    return std::vector<uint8_t>(data, data + SizeofResource(module_, info));
  }

  static HMODULE module_;
};
HMODULE PluginResources::module_ = nullptr;

// --- what the module carries --------------------------------------------

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR list) {
  reinterpret_cast<std::vector<uintptr_t>*>(list)->push_back(reinterpret_cast<uintptr_t>(type));
  return TRUE;
}
BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
  reinterpret_cast<std::vector<uintptr_t>*>(list)->push_back(reinterpret_cast<uintptr_t>(name));
  return TRUE;
}
BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<uintptr_t>*>(list)->push_back(language);
  return TRUE;
}

TEST_F(PluginResources, CarriesOneDialogOneStringBlockAndOneVersionBlockAllInJapanese) {
  std::vector<uintptr_t> types;
  EnumResourceTypesW(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
  // Every type is an ordinal; names would be pointers well above 0xFFFF.
  EXPECT_EQ((std::vector<uintptr_t>{5, 6, 16}), types) << "RT_DIALOG, RT_STRING, RT_VERSION";

  const struct {
    const char* what;
    LPCWSTR type;
    uintptr_t name;
  } rows[] = {{"dialog", MAKEINTRESOURCEW(5), kDialogId},
              {"string block", MAKEINTRESOURCEW(6), 1},
              {"version", MAKEINTRESOURCEW(16), 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uintptr_t> names;
    EnumResourceNamesW(module_, row.type, CollectName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(std::vector<uintptr_t>{row.name}, names);
    std::vector<uintptr_t> languages;
    EnumResourceLanguagesW(module_, row.type, MAKEINTRESOURCEW(row.name), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(std::vector<uintptr_t>{kJapanese}, languages);
  }
}

// --- dialog 101 ------------------------------------------------------------

struct ControlRow {
  const char* name;
  uint32_t id;
  uint16_t classOrdinal;
  const char16_t* text;
  uint32_t style;
  uint32_t exStyle;
  int16_t x, y, cx, cy;
};

constexpr uint32_t kLabel = 0xFFFFFFFF;  // -1
constexpr uint16_t kButton = 0x0080, kStatic = 0x0082, kComboBox = 0x0085;

// Template order, which is also the tab order and z-order.
const ControlRow kControls[12] = {
    {"1 OK", 1, kButton, u"OK", 0x50010001, 0, 195, 26, 50, 14},
    {"2 Cancel", 2, kButton, u"ｷｬﾝｾﾙ", 0x50010000, 0, 195, 60, 50, 14},
    {"3 compression label", kLabel, kStatic, u"圧縮：", 0x50020000, WS_EX_RIGHT, 25, 14, 41, 8},
    {"4 bit-rate label", kLabel, kStatic, u"ﾋﾞｯﾄﾚｰﾄ：", 0x50020000, WS_EX_RIGHT, 29, 31, 37, 8},
    {"5 enable box", 1002, kButton, u"可能", 0x50010003, 0, 73, 14, 81, 10},
    {"6 bit-rate list", 1003, kComboBox, u"", 0x50210003, 0, 73, 28, 48, 57},
    {"7 unit label", kLabel, kStatic, u"ｷﾛﾋﾞｯﾄ/秒", 0x50020000, 0, 130, 30, 48, 8},
    {"8 precision label", kLabel, kStatic, u"精密度 ：", 0x50020000, WS_EX_RIGHT, 37, 56, 29, 8},
    {"9 preprocessing label", kLabel, kStatic, u"ﾌﾟﾘﾌﾟﾛｾｯｼﾝｸﾞ：", 0x50020000, WS_EX_RIGHT, 12, 84,
     54, 8},
    {"10 high quality", 1004, kButton, u"高い（処理に時間がかかります）", 0x50020009, 0, 73, 66,
     106, 10},
    {"11 normal quality", 1005, kButton, u"標準", 0x50000009, 0, 73, 55, 106, 10},
    {"12 stereo to mono", 1006, kButton, u"ｽﾃﾚｵからﾓﾉに変換", 0x50030003, 0, 73, 84, 90, 10},
};

TEST_F(PluginResources, DialogHeaderIsTheExtendedJapaneseTemplate) {
  std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(kDialogId));
  ASSERT_FALSE(bytes.empty());
  Reader r(bytes.data(), bytes.size());
  EXPECT_EQ(1, r.Word()) << "version";
  EXPECT_EQ(0xFFFF, r.Word()) << "signature";
  EXPECT_EQ(0u, r.Dword()) << "help id";
  EXPECT_EQ(0u, r.Dword()) << "extended style";
  EXPECT_EQ(0x90C800C0u, r.Dword()) << "style";
  EXPECT_EQ(12, r.Word()) << "control count";
  EXPECT_EQ(0, r.Short()) << "x";
  EXPECT_EQ(0, r.Short()) << "y";
  EXPECT_EQ(274, r.Short()) << "width";
  EXPECT_EQ(109, r.Short()) << "height";
  EXPECT_EQ(0, r.Word()) << "no menu";
  EXPECT_EQ(0, r.Word()) << "default dialog class";
  EXPECT_TEXT(u"Quorvane for Audio 設定", r.String());
  EXPECT_EQ(9, r.Word()) << "point size";
  EXPECT_EQ(0, r.Word()) << "weight";
  EXPECT_EQ(0, r.Byte()) << "italic";
  EXPECT_EQ(1, r.Byte()) << "character set";
  EXPECT_TEXT(u"ＭＳ Ｐゴシック", r.String());
  EXPECT_FALSE(r.overran());
}

TEST_F(PluginResources, DialogControlsMatchTheLayoutTableInTemplateOrder) {
  std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(kDialogId));
  ASSERT_FALSE(bytes.empty());
  Reader r(bytes.data(), bytes.size());
  // Skip the header: fixed part, menu, class, caption, font.
  r.Seek(26);
  ReadNameOrOrdinal(r);
  ReadNameOrOrdinal(r);
  r.String();
  r.Seek(r.offset() + 6);
  r.String();

  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    r.AlignDword();
    EXPECT_EQ(0u, r.Dword()) << "help id";
    EXPECT_EQ(row.exStyle, r.Dword()) << "extended style";
    EXPECT_EQ(row.style, r.Dword()) << "style";
    EXPECT_EQ(row.x, r.Short()) << "x";
    EXPECT_EQ(row.y, r.Short()) << "y";
    EXPECT_EQ(row.cx, r.Short()) << "width";
    EXPECT_EQ(row.cy, r.Short()) << "height";
    EXPECT_EQ(row.id, r.Dword()) << "id";
    NameOrOrdinal windowClass = ReadNameOrOrdinal(r);
    EXPECT_TRUE(windowClass.isOrdinal) << "class by name: " << Hex(windowClass.name);
    EXPECT_EQ(row.classOrdinal, windowClass.ordinal) << "class";
    NameOrOrdinal title = ReadNameOrOrdinal(r);
    EXPECT_FALSE(title.isOrdinal) << "title";
    EXPECT_TEXT(row.text, title.name);
    EXPECT_EQ(0, r.Word()) << "creation data size";
    ASSERT_FALSE(r.overran());
  }
  // Nothing follows the twelfth control but alignment padding.
  EXPECT_LT(bytes.size() - r.offset(), 4u);
}

// --- string block 1 ------------------------------------------------------

TEST_F(PluginResources, StringBlockHoldsOnlyTheDisplayName) {
  std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(bytes.empty());
  Reader r(bytes.data(), bytes.size());
  for (int id = 0; id < 16; ++id) {
    SCOPED_TRACE(id);
    uint16_t length = r.Word();
    std::u16string text = r.Units(length);
    if (id == 1) {
      EXPECT_TEXT(u"Quorvane for Audio 設定...", text);
    } else {
      EXPECT_EQ(0, length);
    }
  }
  EXPECT_FALSE(r.overran());
  EXPECT_LT(bytes.size() - r.offset(), 4u);
}

TEST_F(PluginResources, DisplayNameLoadsThroughThePlatform) {
  // The module loads the name with LoadStringA from a real instance handle.
  HMODULE instance = LoadLibraryA(PLUGIN_DLL_PATH);
  ASSERT_NE(nullptr, instance);
  wchar_t wide[64] = {};
  EXPECT_EQ(24, LoadStringW(instance, 1, wide, 64));
  EXPECT_STREQ(L"Quorvane for Audio 設定...", wide);
  char ansi[256] = {};
  int length = LoadStringA(instance, 1, ansi, sizeof ansi);
  char codePage[16] = {};
  GetEnvironmentVariableA("EXPECTED_CODE_PAGE", codePage, sizeof codePage);
  if (codePage[0] != '\0') EXPECT_EQ(static_cast<UINT>(atoi(codePage)), GetACP());
  if (GetACP() == 932) {
    EXPECT_STREQ("Quorvane for Audio \x90\xdd\x92\xe8...", ansi);
  } else {
    EXPECT_STREQ("Quorvane for Audio ??...", ansi);
  }
  EXPECT_EQ(static_cast<int>(strlen(ansi)), length);
  wchar_t missing[8] = {L'x'};
  EXPECT_EQ(0, LoadStringW(instance, 2, missing, 8));
  FreeLibrary(instance);
}

// --- version block --------------------------------------------------------

// One node of the version tree: length, value length, type, key, value.
struct VersionNode {
  size_t start = 0, end = 0, valueStart = 0;
  uint16_t length = 0, valueLength = 0, type = 0;
  std::u16string key;
};

VersionNode ReadNode(Reader& r) {
  VersionNode node;
  r.AlignDword();
  node.start = r.offset();
  node.length = r.Word();
  node.valueLength = r.Word();
  node.type = r.Word();
  node.key = r.String();
  r.AlignDword();
  node.valueStart = r.offset();
  node.end = node.start + node.length;
  return node;
}

struct StringValue {
  const char16_t* key;
  std::u16string value;  // empty: any non-empty text
};

TEST_F(PluginResources, VersionBlockFixedPartDescribesA32BitDll) {
  std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(bytes.empty());
  Reader r(bytes.data(), bytes.size());
  VersionNode root = ReadNode(r);
  EXPECT_EQ(root.length, bytes.size());
  EXPECT_TEXT(u"VS_VERSION_INFO", root.key);
  EXPECT_EQ(0, root.type) << "binary";
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.valueLength);
  VS_FIXEDFILEINFO fixed = r.Read<VS_FIXEDFILEINFO>();
  ASSERT_FALSE(r.overran());
  EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
  EXPECT_EQ(0x00010000u, fixed.dwStrucVersion);
  EXPECT_EQ(0x00010000u, fixed.dwFileVersionMS) << "file version 1.0";
  EXPECT_EQ(0x00000001u, fixed.dwFileVersionLS) << "file version .0.1";
  EXPECT_EQ(0x00010000u, fixed.dwProductVersionMS) << "product version 1.0";
  EXPECT_EQ(0x00000001u, fixed.dwProductVersionLS) << "product version .0.1";
  EXPECT_EQ(0x3Fu, fixed.dwFileFlagsMask);
  EXPECT_EQ(0u, fixed.dwFileFlags);
  EXPECT_EQ(0x00040004u, fixed.dwFileOS);
  EXPECT_EQ(2u, fixed.dwFileType) << "VFT_DLL";
  EXPECT_EQ(0u, fixed.dwFileSubtype);
  EXPECT_EQ(0u, fixed.dwFileDateMS);
  EXPECT_EQ(0u, fixed.dwFileDateLS);
}

TEST_F(PluginResources, VersionStringsAreUsEnglishUnicodeInTheirFixedOrder) {
  std::vector<uint8_t> bytes = Bytes(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(bytes.empty());
  Reader r(bytes.data(), bytes.size());
  VersionNode root = ReadNode(r);
  r.Seek(root.valueStart + root.valueLength);

  VersionNode stringInfo = ReadNode(r);
  EXPECT_TEXT(u"StringFileInfo", stringInfo.key);
  EXPECT_EQ(0, stringInfo.valueLength);
  VersionNode table = ReadNode(r);
  EXPECT_TEXT(u"040904b0", table.key);
  EXPECT_EQ(0, table.valueLength);
  EXPECT_EQ(table.end, stringInfo.end) << "one table only";

  const std::u16string fileName(PLUGIN_FILE_NAME, PLUGIN_FILE_NAME + strlen(PLUGIN_FILE_NAME));
  const StringValue expected[] = {
      {u"CompanyName", u""},
      {u"FileDescription", u""},
      {u"FileVersion", u"1.0(build 3)"},
      {u"InternalName", u""},
      {u"LegalCopyright", u""},
      {u"LegalTrademarks", u""},
      {u"OriginalFilename", fileName},
      {u"ProductName", u""},
      {u"ProductVersion", u"1, 0, 0, 1"},
  };
  for (const StringValue& want : expected) {
    SCOPED_TRACE(Hex(want.key));
    ASSERT_LT(r.offset(), table.end) << "table ends early";
    VersionNode node = ReadNode(r);
    EXPECT_TEXT(want.key, node.key);
    EXPECT_EQ(1, node.type) << "text";
    // The value length counts the terminator once: no doubled NUL, no
    // missing one, and the node ends right after it.
    std::u16string value = r.Units(node.valueLength);
    ASSERT_GE(value.size(), 1u);
    EXPECT_EQ(u'\0', value.back());
    value.pop_back();
    EXPECT_EQ(std::u16string::npos, value.find(u'\0')) << "embedded NUL: " << Hex(value);
    EXPECT_EQ(node.end, node.valueStart + 2u * node.valueLength);
    if (want.value.empty()) {
      EXPECT_FALSE(value.empty());
    } else {
      EXPECT_TEXT(want.value, value);
    }
    r.Seek(node.end);
  }
  EXPECT_EQ(table.end, r.offset()) << "keys after ProductVersion";

  r.Seek(stringInfo.end);
  VersionNode varInfo = ReadNode(r);
  EXPECT_TEXT(u"VarFileInfo", varInfo.key);
  VersionNode translation = ReadNode(r);
  EXPECT_TEXT(u"Translation", translation.key);
  EXPECT_EQ(0, translation.type) << "binary";
  ASSERT_EQ(4, translation.valueLength);
  EXPECT_EQ(0x0409, r.Word()) << "language";
  EXPECT_EQ(1200, r.Word()) << "code page";
  EXPECT_EQ(translation.end, varInfo.end) << "one translation only";
  EXPECT_EQ(root.end, varInfo.end + (4 - varInfo.end % 4) % 4) << "nothing after VarFileInfo";
  EXPECT_FALSE(r.overran());
}

TEST_F(PluginResources, PlatformVersionReaderFindsTheStrings) {
  std::wstring path(PLUGIN_DLL_PATH, PLUGIN_DLL_PATH + strlen(PLUGIN_DLL_PATH));
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_NE(0u, size);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  const struct {
    const wchar_t* query;
    const wchar_t* value;
  } rows[] = {{L"\\StringFileInfo\\040904b0\\FileVersion", L"1.0(build 3)"},
              {L"\\StringFileInfo\\040904b0\\ProductVersion", L"1, 0, 0, 1"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.query)));
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), row.query, reinterpret_cast<void**>(&value), &length));
    EXPECT_EQ(std::wstring(row.value), std::wstring(value));
  }
}

}  // namespace
