#include "shell/FileTypes.h"

namespace halvoric {

platform::Ref<platform::FileType> FileTypes::pIndd;

void FileTypes::Initialize() {
    pIndd = platform::Make<platform::FileType>();
    pIndd->Name = "indd";
    pIndd->Extensions = ".indd";
    pIndd->MacType = "????";
    pIndd->MacCreator = "InDn";
    pIndd->ToString();  // registers the type
}

void FileTypes::Release() {
    pIndd = nullptr;
}

std::string FileTypes::Indd() {
    return pIndd->ToString();
}

}  // namespace halvoric
