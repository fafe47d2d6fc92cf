#include "inspection/ReleaseIcons.h"

#include <utility>

#include "platform/Files.h"

namespace halvoric {

using platform::LoadResourcePicture;
using platform::Picture;
using platform::Ref;

namespace {

Ref<Picture>& csCache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& cs2Cache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& cs3Cache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& cs4Cache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& cs5Cache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& cs55Cache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& cs6Cache() { static Ref<Picture> pic; return pic; }
Ref<Picture>& undCache() { static Ref<Picture> pic; return pic; }

}  // namespace

Ref<Picture> cs() { return LoadResourcePicture(csCache(), "cs.tif"); }
Ref<Picture> cs2() { return LoadResourcePicture(cs2Cache(), "cs2.tif"); }
Ref<Picture> cs3() { return LoadResourcePicture(cs3Cache(), "cs3.tif"); }
Ref<Picture> cs4() { return LoadResourcePicture(cs4Cache(), "cs4.tif"); }
Ref<Picture> cs5() { return LoadResourcePicture(cs5Cache(), "cs5.tif"); }
Ref<Picture> cs55() { return LoadResourcePicture(cs55Cache(), "cs55.tif"); }
Ref<Picture> cs6() { return LoadResourcePicture(cs6Cache(), "cs6.tif"); }
Ref<Picture> und() { return LoadResourcePicture(undCache(), "und.tif"); }

Ref<Picture> ReleaseIcon(std::string_view name) {
    static constexpr std::pair<std::string_view, Ref<Picture> (*)()> kIcons[] = {
        {"cs", &cs},   {"cs2", &cs2},   {"cs3", &cs3}, {"cs4", &cs4},
        {"cs5", &cs5}, {"cs55", &cs55}, {"cs6", &cs6}, {"und", &und},
    };
    for (const auto& [iconName, accessor] : kIcons) {
        if (iconName == name) return accessor();
    }
    return nullptr;
}

void ForgetReleaseIconsForTesting() {
    for (Ref<Picture>* cache : {&csCache(), &cs2Cache(), &cs3Cache(), &cs4Cache(), &cs5Cache(),
                                &cs55Cache(), &cs6Cache(), &undCache()}) {
        *cache = nullptr;
    }
}

}  // namespace halvoric
