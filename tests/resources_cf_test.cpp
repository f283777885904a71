// Runs the plug-in's macOS resource code (PluginResources_cf.cpp) against the CoreFoundation
// stand-in over GNUstep's Foundation, in a bundle folder laid out as on macOS in a temporary
// folder.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "PluginResources.h"

namespace {

namespace fs = std::filesystem;

struct CFReleaser {
    void operator()(CFTypeRef cf) const { CFRelease(cf); }
};
template <class Ref>
using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

Owned<CFStringRef> cfString(const char* text) {
    return Owned<CFStringRef>(
        CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8));
}

Owned<CFURLRef> fileUrl(const std::string& path, bool isDirectory) {
    return Owned<CFURLRef>(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.data()),
        static_cast<CFIndex>(path.size()), isDirectory));
}

Owned<CFBundleRef> openBundle(const std::string& folder) {
    Owned<CFURLRef> url = fileUrl(folder, true);
    if (!url) return nullptr;
    return Owned<CFBundleRef>(CFBundleCreate(kCFAllocatorDefault, url.get()));
}

std::string pathOf(CFURLRef url) {
    char path[4096];
    if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8*>(path), sizeof path)) {
        return "<no path>";
    }
    return path;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kBinary("a\0b\xff", 4);  // zero bytes inside: the size must come from the file

// <tmp>/X.bundle/Contents/Resources/ with a few files, opened as a CFBundleRef.
class BundleFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "resources_cf_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        resources_ = root_ / "X.bundle" / "Contents" / "Resources";
        fs::create_directories(resources_ / "sub");
        writeFile(resources_ / "skin.xml", "<skin/>\n");
        writeFile(resources_ / "empty.bin", "");
        writeFile(resources_ / "blob.bin", kBinary);
        writeFile(resources_ / "sk\xc3\xafn.xml", "accent");
        writeFile(resources_ / "sk\xffn.xml", "not UTF-8");
        writeFile(resources_ / "sub" / "inner.xml", "inner");
        writeFile(root_ / "X.bundle" / "Contents" / "secret.xml", "outside");
        bundle_ = openBundle((root_ / "X.bundle").string());
        ASSERT_NE(bundle_, nullptr);
    }
    void TearDown() override {
        bundle_.reset();
        fs::remove_all(root_);
    }

    fs::path root_;
    fs::path resources_;
    Owned<CFBundleRef> bundle_;
};

using LoadPluginResource = BundleFolder;
using CoreFoundationStandIn = BundleFolder;

TEST_F(LoadPluginResource, ReadsTheWholeFilePlusAZeroByte) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"skin.xml", "<skin/>\n"},
        {"empty.bin", ""},  // still a buffer, holding only the zero byte
        {"blob.bin", kBinary},
        {"sk\xc3\xafn.xml", "accent"},  // non-ASCII UTF-8 name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int size = -1;
        std::unique_ptr<char[]> data(loadPluginResource(bundle_.get(), c.name, size));
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(size, static_cast<int>(c.bytes.size()));
        EXPECT_EQ(std::string(data.get(), size), c.bytes);
        EXPECT_EQ(data[size], '\0');
    }
}

// Before the file's path is known, `size` is left as the caller set it.
TEST_F(LoadPluginResource, GivesNullAndLeavesSizeWhenNotFound) {
    const char* const names[] = {
        "absent.xml",
        "../secret.xml",  // exists, outside Resources
        "sub/inner.xml",  // exists, but the name holds a folder
        "..",
        "",
        "sk\xffn.xml",  // exists, but the name is not UTF-8
    };
    for (const char* name : names) {
        SCOPED_TRACE(::testing::PrintToString(name));
        int size = 12345;
        std::unique_ptr<char[]> data(loadPluginResource(bundle_.get(), name, size));
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 12345);
    }
}

// CoreFoundation finds folders among the resources too; a folder's path is known but not read.
TEST_F(LoadPluginResource, GivesNullForAFolder) {
    int size = 12345;
    EXPECT_EQ(loadPluginResource(bundle_.get(), "sub", size), nullptr);
    EXPECT_EQ(size, 0);
}

TEST(LoadPluginResourceWithoutBundle, GivesNullAndLeavesSize) {
    int size = 12345;
    EXPECT_EQ(loadPluginResource(nullptr, "skin.xml", size), nullptr);
    EXPECT_EQ(size, 12345);
}

TEST_F(CoreFoundationStandIn, ResourceUrlAppendsTypeAndSubfolder) {
    const struct {
        const char* name;
        const char* type;
        const char* subDir;
        const char* found;  // relative to Resources, or null
    } cases[] = {
        {"skin", "xml", nullptr, "skin.xml"},
        {"inner", "xml", "sub", "sub/inner.xml"},
        {"inner", "xml", nullptr, nullptr},  // subfolders are searched only when named
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Owned<CFStringRef> name = cfString(c.name);
        Owned<CFStringRef> type = cfString(c.type);
        Owned<CFStringRef> subDir(c.subDir ? cfString(c.subDir) : nullptr);
        Owned<CFURLRef> url(
            CFBundleCopyResourceURL(bundle_.get(), name.get(), type.get(), subDir.get()));
        if (c.found == nullptr) {
            EXPECT_EQ(url, nullptr);
        } else {
            ASSERT_NE(url, nullptr);
            EXPECT_EQ(pathOf(url.get()), (resources_ / c.found).string());
        }
    }
}

TEST_F(CoreFoundationStandIn, BundleMustBeAnExistingFolder) {
    EXPECT_EQ(openBundle((root_ / "Missing.bundle").string()), nullptr);
    EXPECT_EQ(openBundle((resources_ / "skin.xml").string()), nullptr);
}

TEST(CoreFoundationStandInUrl, FileSystemRepresentationNeedsRoomForTheZero) {
    const std::string path = "/tmp/some/where.xml";
    Owned<CFURLRef> url = fileUrl(path, false);
    ASSERT_NE(url, nullptr);
    // Exactly sized heap buffers: one without room for the zero must be refused, not overrun.
    std::vector<UInt8> tight(path.size());
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(url.get(), true, tight.data(),
                                                  static_cast<CFIndex>(tight.size())));
    std::vector<UInt8> enough(path.size() + 1);
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(url.get(), true, enough.data(),
                                                 static_cast<CFIndex>(enough.size())));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(enough.data())), path);
}

TEST(CoreFoundationStandInString, AcceptsOnlyValidUtf8) {
    const struct {
        const char* bytes;
        bool valid;
    } cases[] = {
        {"A", true},
        {"\xc3\xaf", true},           // U+00EF
        {"\xe2\x82\xac", true},       // U+20AC
        {"\xf0\x9f\x8e\xb5", true},   // U+1F3B5
        {"\x80", false},              // continuation byte without a lead
        {"\xc3", false},              // cut short by the end
        {"\xc0\xaf", false},          // overlong '/'
        {"\xed\xa0\x80", false},      // surrogate U+D800
        {"\xf4\x90\x80\x80", false},  // past U+10FFFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        EXPECT_EQ(cfString(c.bytes) != nullptr, c.valid);
    }
}

// A retained object outlives the creator's release, also with threads retaining and releasing it
// at once (a lost count would free it early).
TEST(CoreFoundationStandInRefCount, RetainKeepsTheObjectAlive) {
    Owned<CFURLRef> url = fileUrl("/tmp/shared.xml", false);
    ASSERT_NE(url, nullptr);
    CFURLRef kept = static_cast<CFURLRef>(CFRetain(url.get()));
    EXPECT_EQ(kept, url.get());
    url.reset();
    auto churn = [kept] {
        for (int i = 0; i < 10000; ++i) {
            CFRetain(kept);
            CFRelease(kept);
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_EQ(pathOf(kept), "/tmp/shared.xml");
    CFRelease(kept);
}

TEST(CoreFoundationStandInRefCountDeathTest, ReleasingNullAborts) {
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease\\(\\) called with NULL");
}

}  // namespace
