// Every font family the printer languages name resolves, through the device image's fontconfig
// rules, to the intended installed file rather than to fontconfig's fallback.
#include "image_builder.h"
#include "render_test_support.h"

#include <fontconfig/fontconfig.h>

#include <string>

namespace {
struct Expected {
    const char* asked;
    const char* style;  // fontconfig pattern suffix
    const char* file;
    const char* family;
};

const Expected families[] = {
    {"Liberation Mono", "", "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf", "Liberation Mono"},
    {"Liberation Mono", ":bold", "/usr/share/fonts/truetype/liberation/LiberationMono-Bold.ttf", "Liberation Mono"},
    {"OCR B Std", "", "/usr/share/fonts/opentype/ocr-b/OCRB.otf", "OCR B"},
    {"OCRA", "", "/usr/share/fonts/truetype/ocr-a/OCRA.ttf", "OCRA"},
    {"simhei", "", "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", "WenQuanYi Zen Hei"},
    {"simsun", "", "/usr/share/fonts/truetype/arphic/uming.ttc", "AR PL UMing CN"},
    {"SimSun", "", "/usr/share/fonts/truetype/arphic/uming.ttc", "AR PL UMing CN"},
    {"Atrian 3", ":bold", "/usr/share/fonts/truetype/liberation/LiberationSansNarrow-Bold.ttf", "Liberation Sans Narrow"},
    {"Helvetica", "", "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf", "Liberation Sans"},
    {"unifont", "", "/usr/share/fonts/opentype/unifont/unifont.otf", "Unifont"},
};

// A configuration of the machine's fonts plus the rules the device image carries.
FcConfig* device_config() {
    FcConfig* config = FcInitLoadConfigAndFonts();
    std::string rules = std::string(PRINTER_SOURCE_DIR) + "/rootfs/etc/fonts/local.conf";
    EXPECT_TRUE(FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(rules.c_str()), FcTrue)) << rules;
    return config;
}

std::string matched(FcConfig* config, const std::string& name, const char* object) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str()));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    std::string value;
    FcChar8* s = nullptr;
    if (match && FcPatternGetString(match, object, 0, &s) == FcResultMatch) value = reinterpret_cast<char*>(s);
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return value;
}
}  // namespace

TEST(Fonts, EveryNamedFamilyResolvesToItsFile) {
    FcConfig* config = device_config();
    for (const Expected& e : families) {
        std::string name = std::string(e.asked) + e.style;
        EXPECT_EQ(matched(config, name, FC_FILE), e.file) << name;
        EXPECT_EQ(matched(config, name, FC_FAMILY), e.family) << name;
    }
    FcConfigDestroy(config);
}

TEST(Fonts, WithoutTheDeviceRulesTheChineseFamiliesWouldFallBack) {
    // Shows that the rules do the work: plain fontconfig does not know these names.
    // The machine's rules alone, with the font cache of the test run's own configuration (a folder
    // of the build) put first: /etc/fonts/fonts.conf names the machine's cache, which a test run
    // must not write.
    std::string rules = "<fontconfig>";
    FcStrList* caches = FcConfigGetCacheDirs(nullptr);
    if (FcChar8* cache = caches ? FcStrListNext(caches) : nullptr)
        rules += "<cachedir>" + std::string(reinterpret_cast<char*>(cache)) + "</cachedir>";
    if (caches) FcStrListDone(caches);
    rules += "<include ignore_missing=\"no\">/etc/fonts/fonts.conf</include></fontconfig>";
    FcConfig* plain = FcConfigCreate();
    ASSERT_TRUE(FcConfigParseAndLoadFromMemory(plain, reinterpret_cast<const FcChar8*>(rules.c_str()), FcTrue));
    ASSERT_TRUE(FcConfigBuildFonts(plain));
    EXPECT_NE(matched(plain, "simhei", FC_FILE), "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc");
    EXPECT_NE(matched(plain, "Atrian 3:bold", FC_FILE),
              "/usr/share/fonts/truetype/liberation/LiberationSansNarrow-Bold.ttf");
    FcConfigDestroy(plain);
}

class PangoFonts : public RenderTest {};

TEST_F(PangoFonts, TheRendererLoadsTheSameFaces) {
    // The renderer's own font map (the tests run with the device rules, see CMakeLists.txt).
    for (const Expected& e : families) {
        if (std::string(e.asked) == "Liberation Mono" && *e.style) continue;
        bool bold = std::string(e.style) == ":bold";
        set_font_description(e.asked, 10, bold ? 1 : 0, 1, 1);
        PangoFont* font = pango_font_map_load_font(global_pango_fontmap, global_pango_context, global_pango_font_description);
        ASSERT_NE(font, nullptr) << e.asked;
        PangoFontDescription* d = pango_font_describe(font);
        EXPECT_STREQ(pango_font_description_get_family(d), e.family) << e.asked;
        pango_font_description_free(d);
        g_object_unref(font);
    }
}
