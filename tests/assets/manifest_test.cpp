#include "tests/assets/asset_file.h"

#include <gtest/gtest.h>

#include <string>

namespace taktor {
namespace {

class Manifest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::uint8_t> bytes = ReadAsset("taktor.manifest.in");
        text_.assign(bytes.begin(), bytes.end());
        ASSERT_FALSE(text_.empty());
    }
    int Count(const std::string& part) const {
        int n = 0;
        for (auto at = text_.find(part); at != std::string::npos; at = text_.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
    // The text of the element that starts with open (up to its closing "/>").
    std::string Element(const std::string& open, std::size_t from = 0) const {
        auto at = text_.find(open, from);
        if (at == std::string::npos) {
            return {};
        }
        return text_.substr(at, text_.find("/>", at) - at);
    }

    std::string text_;
};

TEST_F(Manifest, IsAnAssemblyOfThePublishedSchema) {
    EXPECT_EQ(text_.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
    EXPECT_EQ(
        Count("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"), 1);
    EXPECT_NE(text_.find("</assembly>"), std::string::npos);
    EXPECT_TRUE(Count("<description></description>") + Count("<description/>") == 1);
}

TEST_F(Manifest, IdentityAndCommonControlsDependency) {
    std::string own = Element("<assemblyIdentity");
    EXPECT_NE(own.find("version=\"1.0.0.0\""), std::string::npos) << own;
    EXPECT_NE(own.find("type=\"win32\""), std::string::npos) << own;
    EXPECT_NE(own.find("processorArchitecture=\"@TAKTOR_MANIFEST_ARCH@\""), std::string::npos);
    EXPECT_NE(own.find("name=\"Taktor.Configurator\""), std::string::npos) << own;

    auto dependency = text_.find("<dependentAssembly>");
    ASSERT_NE(dependency, std::string::npos);
    ASSERT_GT(dependency, text_.find("<dependency>"));
    std::string cc = Element("<assemblyIdentity", dependency);
    for (const char* attribute :
         {"type=\"win32\"", "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
          "processorArchitecture=\"@TAKTOR_MANIFEST_ARCH@\"", "publicKeyToken=\"6595b64144ccf1df\"",
          "language=\"*\""}) {
        EXPECT_NE(cc.find(attribute), std::string::npos) << attribute << " in " << cc;
    }
    EXPECT_EQ(Count("<dependency>"), 1);
    EXPECT_EQ(Count("@TAKTOR_MANIFEST_ARCH@"), 2);
    EXPECT_EQ(Count("@"), 4);  // no other placeholder
}

TEST_F(Manifest, AsksForNothingElse) {
    for (const char* absent :
         {"trustInfo", "requestedExecutionLevel", "requestedPrivileges", "dpiAware", "dpiAwareness",
          "compatibility", "supportedOS", "windowsSettings", "application"}) {
        EXPECT_EQ(Count(absent), 0) << absent;
    }
}

}  // namespace
}  // namespace taktor
