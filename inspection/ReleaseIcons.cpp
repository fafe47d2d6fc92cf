#include "inspection/ReleaseIcons.h"

#include "platform/Files.h"

namespace halvoric {

using platform::Picture;
using platform::Ref;

Ref<Picture> LoadResourcePicture(Ref<Picture>& cache, std::string_view fileName) {
    if (!cache) {
        // Looked up on every call that gets here: the folder may appear later.
        const Ref<platform::FolderItem> resources = platform::GetApplicationBundleResources();
        if (resources) {
            const Ref<platform::FolderItem> file = resources->Child(fileName);
            // A nil child raises NilObjectException; the cache stays nil.
            cache = file->OpenAsPicture();
        }
    }
    return cache;
}

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

void ForgetReleaseIconsForTesting() {
    for (Ref<Picture>* cache : {&csCache(), &cs2Cache(), &cs3Cache(), &cs4Cache(), &cs5Cache(),
                                &cs55Cache(), &cs6Cache(), &undCache()}) {
        *cache = nullptr;
    }
}

}  // namespace halvoric
