#pragma once

#include <string>

#include "platform/Files.h"
#include "platform/Ref.h"

namespace halvoric {

// The program's document types: one, InDesign documents.
class FileTypes {
public:
    // Creates and registers the document type "indd", replacing any earlier one.
    static void Initialize();
    // Releases the type, which withdraws its registration.
    static void Release();
    // The type's name: the filter text of the open-file dialogs.
    static std::string Indd();

private:
    static platform::Ref<platform::FileType> pIndd;
};

}  // namespace halvoric
