#pragma once

#include <string_view>

#include "platform/Picture.h"
#include "platform/Ref.h"

namespace halvoric {

// Loads the picture file `fileName` from the application's resources folder
// into `cache` on first use and returns the cache.
//
// A cache that holds a picture is returned as it is: the file is not looked at
// again. Otherwise the resources folder is looked up anew; without one the
// result is nil and nothing is recorded. The folder's child `fileName` is
// opened as a picture and the result, possibly nil (missing file, not an
// image), is stored in the cache, so a failed load is tried again on the next
// call. A child lookup that yields no file reference raises
// platform::NilObjectException; nothing is caught here.
platform::Ref<platform::Picture> LoadResourcePicture(platform::Ref<platform::Picture>& cache,
                                                     std::string_view fileName);

// The release icons, each loaded from its own file with a cache of its own:
// "cs.tif", "cs2.tif", "cs3.tif", "cs4.tif", "cs5.tif", "cs55.tif", "cs6.tif"
// and, for a release the program does not know, "und.tif". Nil while the
// picture is missing.
platform::Ref<platform::Picture> cs();
platform::Ref<platform::Picture> cs2();
platform::Ref<platform::Picture> cs3();
platform::Ref<platform::Picture> cs4();
platform::Ref<platform::Picture> cs5();
platform::Ref<platform::Picture> cs55();
platform::Ref<platform::Picture> cs6();
platform::Ref<platform::Picture> und();

// Empties the eight icon caches, so that a test starts from a fresh process's
// state whatever ran before it.
void ForgetReleaseIconsForTesting();

}  // namespace halvoric
