#include "inspection/ReleaseIcons.h"

#include <array>

#include "platform/Application.h"
#include "platform/Files.h"

namespace halvoric {

using platform::Picture;
using platform::Ref;

namespace {

// A release icon: its name, its file in the resources folder and the picture
// loaded from it (nil while the picture is missing).
struct ReleaseIconEntry {
    std::string_view name;
    std::string_view file;
    Ref<Picture> picture;
};

std::array<ReleaseIconEntry, 8>& ReleaseIcons() {
    static std::array<ReleaseIconEntry, 8> icons{{
        {"cs", "cs.tif"},   {"cs2", "cs2.tif"},   {"cs3", "cs3.tif"}, {"cs4", "cs4.tif"},
        {"cs5", "cs5.tif"}, {"cs55", "cs55.tif"}, {"cs6", "cs6.tif"}, {"und", "und.tif"},
    }};
    return icons;
}

}  // namespace

Ref<Picture> cs() { return ReleaseIcon("cs"); }
Ref<Picture> cs2() { return ReleaseIcon("cs2"); }
Ref<Picture> cs3() { return ReleaseIcon("cs3"); }
Ref<Picture> cs4() { return ReleaseIcon("cs4"); }
Ref<Picture> cs5() { return ReleaseIcon("cs5"); }
Ref<Picture> cs55() { return ReleaseIcon("cs55"); }
Ref<Picture> cs6() { return ReleaseIcon("cs6"); }
Ref<Picture> und() { return ReleaseIcon("und"); }

Ref<Picture> ReleaseIcon(std::string_view name) {
    for (ReleaseIconEntry& icon : ReleaseIcons()) {
        if (icon.name == name) {
            return platform::LoadResourcePicture(platform::Runtime::Current().Info().resourcesFolder, icon.picture,
                                                 icon.file);
        }
    }
    return nullptr;
}

void ForgetReleaseIconsForTesting() {
    for (ReleaseIconEntry& icon : ReleaseIcons()) icon.picture = nullptr;
}

}  // namespace halvoric
