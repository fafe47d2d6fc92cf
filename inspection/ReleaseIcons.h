#pragma once

#include <string_view>

#include "platform/Picture.h"
#include "platform/Ref.h"

namespace halvoric {

// The release icons, each loaded from its own file in the running
// application's resources folder with a cache of its own: "cs.tif", "cs2.tif",
// "cs3.tif", "cs4.tif", "cs5.tif", "cs55.tif", "cs6.tif" and, for a release
// the program does not know, "und.tif". Nil while the picture is missing.
platform::Ref<platform::Picture> cs();
platform::Ref<platform::Picture> cs2();
platform::Ref<platform::Picture> cs3();
platform::Ref<platform::Picture> cs4();
platform::Ref<platform::Picture> cs5();
platform::Ref<platform::Picture> cs55();
platform::Ref<platform::Picture> cs6();
platform::Ref<platform::Picture> und();

// The release icon of that name ("cs" ... "cs6", "cs55", "und"), the same as
// its accessor above gives; nil for any other name.
platform::Ref<platform::Picture> ReleaseIcon(std::string_view name);

// Empties the eight icon caches, so that a test starts from a fresh process's
// state whatever ran before it. It stays global because the icon accessors are:
// process-wide functions whose pictures, once loaded, live as long as the process.
void ForgetReleaseIconsForTesting();

}  // namespace halvoric
