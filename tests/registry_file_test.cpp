// The registry file: export text format, typed values, robustness against hand edits and
// corruption, atomic replacement, and where the file is found.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "settings/RegFile.h"
#include "support/samples.h"

#if defined(__linux__)
#include <sys/resource.h>

#include <csignal>
#endif

namespace fs = std::filesystem;
using namespace varimel;
using namespace std::literals;

namespace {

using varimel::test::TempDir;

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t filesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RegistryError& error) {
        return error.what();
    }
    return "no error";
}

constexpr std::string_view kSettings = "\\software\\Belmora\\Varimel\\Settings";

}  // namespace

TEST(RegistryFile, TypedValuesSurviveAWriteAndARead) {
    TempDir dir;
    const std::string awkward = "C:\\Program Files\\\"quoted\" ♪ Größe";
    {
        RegistryFile registry(dir / "r.reg");
        ASSERT_TRUE(registry.openKey(kSettings, true));
        registry.writeInteger("Count", -5);
        registry.writeBool("Flag", true);
        registry.writeFloat("Ratio", 0.7);
        registry.writeString("Path", awkward);
        registry.writeString("TwoLines", "first\nsecond");
        registry.writeString("Empty", "");
    }
    RegistryFile registry(dir / "r.reg");
    ASSERT_TRUE(registry.usable());
    ASSERT_TRUE(registry.openKey(kSettings, false));
    EXPECT_EQ(registry.readInteger("Count"), -5);
    EXPECT_TRUE(registry.readBool("Flag"));
    EXPECT_EQ(registry.readFloat("Ratio"), 0.7);
    EXPECT_EQ(registry.readString("Path"), awkward);
    EXPECT_EQ(registry.readString("TwoLines"), "first\nsecond");
    EXPECT_EQ(registry.readString("Empty"), "");
    EXPECT_TRUE(registry.valueExists("Empty"));
    // The types came back, not just the texts.
    EXPECT_EQ(errorOf([&] { registry.readString("Count"); }), "Invalid data type for 'Count'");
    EXPECT_EQ(errorOf([&] { registry.readInteger("Ratio"); }), "Invalid data type for 'Ratio'");
    EXPECT_EQ(errorOf([&] { registry.readFloat("Path"); }), "Invalid data type for 'Path'");
}

TEST(RegistryFile, WritesTheTextOfARegistryExport) {
    TempDir dir;
    {
        RegistryFile registry(dir / "r.reg");
        ASSERT_TRUE(registry.openKey(kSettings, true));
        registry.writeString("InstallPath", "C:\\Varimel\\");
        registry.writeString("Say", "a \"b\"");
        registry.writeInteger("Ten", 10);
        registry.writeInteger("Minus", -1);
        registry.writeFloat("Half", 0.5);
        registry.writeString("", "default");
        registry.setRootKey(RegistryRoot::ClassesRoot);
        ASSERT_TRUE(registry.openKey("htmlfile", true));
    }
    EXPECT_EQ(readBytes(dir / "r.reg"),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\software\\Belmora\\Varimel\\Settings]\n"
              "\"InstallPath\"=\"C:\\\\Varimel\\\\\"\n"
              "\"Say\"=\"a \\\"b\\\"\"\n"
              "\"Ten\"=dword:0000000a\n"
              "\"Minus\"=dword:ffffffff\n"
              "\"Half\"=hex:00,00,00,00,00,00,e0,3f\n"
              "@=\"default\"\n"
              "\n"
              "[HKEY_CLASSES_ROOT\\htmlfile]\n"
              "\n");
}

TEST(RegistryFile, LongBinaryValuesWrapLikeAnExportAndReadBack) {
    TempDir dir;
    std::vector<std::uint8_t> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    auto document = RegDocument::parse("");
    ASSERT_TRUE(document);
    document->setValue(RegistryRoot::LocalMachine, "k", "Blob", RegistryValue::fromBinary(bytes));
    document->setValue(RegistryRoot::LocalMachine, "k", "Text",
                       RegistryValue::fromString("a\r\nb"));
    auto text = document->toText();
    std::istringstream lines(text);
    int continued = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        if (line.ends_with('\\')) ++continued;
    }
    EXPECT_GE(continued, 3);
    auto again = RegDocument::parse(text);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->findValue(RegistryRoot::LocalMachine, "k", "Blob")->data, bytes);
    EXPECT_EQ(again->findValue(RegistryRoot::LocalMachine, "k", "Text")->text(), "a\r\nb");
}

// Both once took the square of their size: a long binary value wrapped over thousands of lines,
// and a key of many values read one by one (as the recent files are). Each now takes well under
// a second; the bound only has to tell seconds from minutes, sanitizers included.
TEST(RegDocument, LongWrappedValuesAndKeysOfManyValuesReadInLinearTime) {
    const auto lm = RegistryRoot::LocalMachine;
    const auto start = std::chrono::steady_clock::now();

    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\k]\n\"Blob\"=hex:";
    constexpr int kLines = 40000;
    for (int i = 0; i < kLines; ++i)
        text += "01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,\\\n  ";
    text += "ff\n\n[HKEY_LOCAL_MACHINE\\Recent Files]\n";
    constexpr int kValues = 200000;
    for (int i = 0; i < kValues; ++i) text += "\"File" + std::to_string(i) + "\"=\"f\"\n";
    auto document = RegDocument::parse(text);
    ASSERT_TRUE(document);
    const RegistryValue* blob = document->findValue(lm, "k", "blob");
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->data.size(), std::size_t{kLines} * 16 + 1);

    // Deleting a value moves the ones after it; each must still be found under its name.
    EXPECT_TRUE(document->deleteValue(lm, "Recent Files", "FILE0"));
    EXPECT_EQ(document->findValue(lm, "Recent Files", "File0"), nullptr);
    for (int i = 1; i < kValues; ++i) {
        const RegistryValue* value =
            document->findValue(lm, "Recent Files", "File" + std::to_string(i));
        ASSERT_NE(value, nullptr) << i;
        ASSERT_EQ(value->text(), "f") << i;
    }
    document->setValue(lm, "Recent Files", "file7", RegistryValue::fromString("g"));
    EXPECT_EQ(document->findValue(lm, "Recent Files", "File7")->text(), "g");
    EXPECT_EQ(document->valueNames(lm, "Recent Files").size(), std::size_t{kValues} - 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(RegDocument, KeysAndValueNamesIgnoreCaseAndParentsExistThroughSubkeys) {
    auto document = RegDocument::parse(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Belmora\\Varimel\\Settings]\n"
        "\"ShowTips\"=dword:00000001\n");
    ASSERT_TRUE(document);
    const auto lm = RegistryRoot::LocalMachine;
    EXPECT_NE(document->findValue(lm, "\\software\\belmora\\varimel\\settings", "SHOWTIPS"),
              nullptr);
    EXPECT_TRUE(document->keyExists(lm, "\\software\\Belmora\\Varimel\\"));
    EXPECT_TRUE(document->keyExists(lm, "software"));
    EXPECT_FALSE(document->keyExists(lm, "\\software\\Belmora\\Var"));
    EXPECT_FALSE(document->keyExists(RegistryRoot::ClassesRoot, "\\software\\Belmora"));
    // Setting a value under another spelling changes the one value, not a second one.
    document->setValue(lm, "Software\\BELMORA\\Varimel\\Settings", "showtips",
                       RegistryValue::fromDword(0));
    EXPECT_EQ(document->valueNames(lm, kSettings), std::vector<std::string>{"ShowTips"});
}

TEST(RegistryFile, HandEditedLinesSurviveARewrite) {
    TempDir dir;
    writeBytes(dir / "r.reg",
               "Windows Registry Editor Version 5.00\r\n"
               "; written by hand\r\n"
               "\r\n"
               "[HKEY_LOCAL_MACHINE\\software\\Belmora\\Varimel\\Settings]\r\n"
               "; keep this note\r\n"
               "\"Broken\"=dword:xyz\r\n"
               "\"Big\"=hex:01,02,\\\r\n"
               "  03,04\r\n"
               "\"URL\" = \"www.example.org\"\r\n"
               "\r\n"
               "[-HKEY_LOCAL_MACHINE\\software\\Old]\r\n"
               "\"Stray\"=\"value\"\r\n"
               "\r\n"
               "[HKEY_LOCAL_MACHINE\\software\\Belmora\\Varimel\\Settings]\r\n"
               "\"URL\"=\"www.belmora.com\"\r\n");
    {
        RegistryFile registry(dir / "r.reg");
        ASSERT_TRUE(registry.usable());
        ASSERT_TRUE(registry.openKey(kSettings, false));
        // The later entry of a key listed twice wins, as on import.
        EXPECT_EQ(registry.readString("URL"), "www.belmora.com");
        EXPECT_EQ(registry.document().findValue(RegistryRoot::LocalMachine, kSettings, "Big")->data,
                  (std::vector<std::uint8_t>{1, 2, 3, 4}));
        EXPECT_FALSE(registry.valueExists("Broken"));
        registry.writeInteger("Added", 1);
    }
    auto text = readBytes(dir / "r.reg");
    EXPECT_NE(text.find("; written by hand\n"), std::string::npos);
    EXPECT_NE(text.find("; keep this note\n\"Broken\"=dword:xyz\n"), std::string::npos);
    EXPECT_NE(text.find("[-HKEY_LOCAL_MACHINE\\software\\Old]\n\"Stray\"=\"value\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Big\"=hex:01,02,03,04\n"), std::string::npos);
    EXPECT_NE(text.find("\"Added\"=dword:00000001\n"), std::string::npos);
    EXPECT_EQ(text.find("\r"), std::string::npos);
    // One section for the key listed twice.
    EXPECT_EQ(text.find("Varimel\\Settings]"), text.rfind("Varimel\\Settings]"));
}

TEST(RegDocument, ReadsUtf16ExportsAndUtf8WithByteOrderMark) {
    std::string utf8 =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\htmlfile\\shell\\open\\command]\r\n"
        "@=\"\\\"C:\\\\Programme\\\\Größe.exe\\\" -nohome\"\r\n";
    std::string utf16 = "\xFF\xFE";
    // The test text is ASCII apart from "öß", which are single UTF-16 units.
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        unsigned unit = c;
        if (c == 0xC3) unit = 0xC0 | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    const std::string expected = "\"C:\\Programme\\Größe.exe\" -nohome";
    for (const auto& bytes : {utf16, "\xEF\xBB\xBF" + utf8}) {
        auto document = RegDocument::parse(bytes);
        ASSERT_TRUE(document);
        auto* value =
            document->findValue(RegistryRoot::ClassesRoot, "\\htmlfile\\shell\\open\\command", "");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->text(), expected);
    }
}

TEST(RegDocument, DamagedTextNeverCrashesAndRewritesStably) {
    const std::string valid =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\software\\Belmora\\Varimel\\Settings]\n"
        "\"InstallPath\"=\"C:\\\\V\\\\\"\n\"MinWT\"=hex:66,66,66,66,66,66,e6,3f\n"
        "\"ShowTips\"=dword:00000001\n\"Wide\"=hex(2):41,00,00,00\n@=\"x\"\n\n"
        "[HKEY_CLASSES_ROOT\\htmlfile]\n\"Long\"=hex:01,\\\n  02\n";
    std::mt19937 random(12345);
    const std::string_view alphabet = "\"\\[]@=:,-;\n\r\t hexdword(0)aF\xFF\xFE\x00"sv;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = valid;
        int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !damaged.empty(); ++e) {
            auto at = random() % damaged.size();
            auto kind = random() % 8;  // mostly small edits, now and then a cut-off file
            if (kind < 3) {
                damaged.erase(at, 1 + random() % 5);
            } else if (kind < 7) {
                damaged.insert(at, 1, alphabet[random() % alphabet.size()]);
            } else {
                damaged.resize(at);
            }
        }
        auto document = RegDocument::parse(damaged);
        if (!document) continue;
        // Whatever was understood is written so that reading it again changes nothing.
        auto text = document->toText();
        auto again = RegDocument::parse(text);
        ASSERT_TRUE(again) << damaged;
        ASSERT_EQ(again->toText(), text) << damaged;
    }
}

TEST(RegistryFile, AFileThatIsNoRegistryExportIsNeitherReadNorWritten) {
    TempDir dir;
    const std::string foreign = "root:x:0:0:root:/root:/bin/bash\n";
    writeBytes(dir / "passwd", foreign);
    RegistryFile registry(dir / "passwd");
    EXPECT_FALSE(registry.usable());
    EXPECT_NE(registry.loadError().find("not a registry file"), std::string::npos);
    EXPECT_FALSE(registry.keyExists("\\software"));
    EXPECT_FALSE(registry.openKey(kSettings, true));
    EXPECT_EQ(readBytes(dir / "passwd"), foreign);

    RegistryFile folder(dir.path());
    EXPECT_FALSE(folder.usable());
}

TEST(RegistryFile, AMissingFileIsAnEmptyRegistryCreatedByTheFirstWrite) {
    TempDir dir;
    RegistryFile registry(dir / "new.reg");
    EXPECT_TRUE(registry.usable());
    EXPECT_FALSE(registry.keyExists("\\software"));
    EXPECT_FALSE(registry.openKey(kSettings, false));
    EXPECT_FALSE(fs::exists(dir / "new.reg"));
    ASSERT_TRUE(registry.openKey(kSettings, true));
    registry.closeKey();  // an empty key is kept, as the system registry keeps it
    EXPECT_TRUE(RegistryFile(dir / "new.reg").keyExists(kSettings));
}

TEST(Registry, ErrorsNameTheValueAndTheirKind) {
    TempDir dir;
    RegistryFile registry(dir / "r.reg");
    ASSERT_TRUE(registry.openKey(kSettings, true));
    registry.writeString("Text", "12");
    EXPECT_EQ(errorOf([&] { registry.readInteger("Count"); }), "Failed to get data for 'Count'");
    EXPECT_EQ(errorOf([&] { registry.readFloat("Ratio"); }), "Failed to get data for 'Ratio'");
    EXPECT_EQ(errorOf([&] { registry.readBool("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(registry.readString("Missing"), "");

    // A float must be exactly the 8 bytes of a double.
    auto document = RegDocument::parse(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\k]\n\"Short\"=hex:00,00,80,3f\n\"Odd\"=hex(7):41,00\n");
    ASSERT_TRUE(document);
    writeBytes(dir / "short.reg", document->toText());
    RegistryFile other(dir / "short.reg");
    ASSERT_TRUE(other.openKey("k", false));
    EXPECT_EQ(errorOf([&] { other.readFloat("Short"); }), "Invalid data type for 'Short'");
    EXPECT_EQ(errorOf([&] { other.readString("Odd"); }), "Invalid data type for 'Odd'");

    // A write the file system refuses: the folder is gone.
    fs::remove_all(dir.path());
    EXPECT_EQ(errorOf([&] { registry.writeInteger("Count", 1); }),
              "Failed to set data for 'Count'");
    EXPECT_FALSE(registry.valueExists("Count"));
}

TEST(WriteFileAtomically, ReplacesTheFileKeepingPermissionsAndLinks) {
    TempDir dir;
    writeBytes(dir / "target", "old");
    fs::permissions(dir / "target", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir / "target", dir / "link");
    ASSERT_TRUE(writeFileAtomically(dir / "link", "new contents"));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(readBytes(dir / "target"), "new contents");
    EXPECT_EQ(fs::status(dir / "target").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(filesIn(dir.path()), 2u);  // no temporary left behind

    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "missing" / "f", "x", &error));
    EXPECT_FALSE(error.empty());
}

#if defined(__linux__)
TEST(WriteFileAtomically, AWriteCutShortLeavesTheOldFileWholeAndNoTemporary) {
    TempDir dir;
    writeBytes(dir / "registry.reg", "old contents");
    // Simulates a full disk: the file size limit stops the write part way.
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool written = writeFileAtomically(dir / "registry.reg", std::string(100000, 'x'));
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(dir / "registry.reg"), "old contents");
    EXPECT_EQ(filesIn(dir.path()), 1u);
}
#endif

TEST(RegistryLocation, TheEnvironmentNamesTheFileElseItLiesBesideTheProgram) {
    EXPECT_EQ(installedRegistryPath("/opt/varimel/bin"), "/opt/varimel/etc/varimel/registry.reg");
    EXPECT_EQ(installedRegistryPath("/work/build/app/"), "/work/build/etc/varimel/registry.reg");
    EXPECT_TRUE(installedRegistryPath("").empty());

    const char* saved = std::getenv(kRegistryEnvVar);
    std::string restore = saved ? saved : "";
    setenv(kRegistryEnvVar, "/tmp/elsewhere.reg", 1);
    EXPECT_EQ(registryFilePath(), "/tmp/elsewhere.reg");
    setenv(kRegistryEnvVar, "", 1);
    EXPECT_EQ(registryFilePath(), installedRegistryPath(programDirectory()));
    EXPECT_TRUE(fs::equivalent(programDirectory(), fs::path(VARIMEL_BINARY_DIR) / "tests"));
    if (saved) {
        setenv(kRegistryEnvVar, restore.c_str(), 1);
    } else {
        unsetenv(kRegistryEnvVar);
    }
}
