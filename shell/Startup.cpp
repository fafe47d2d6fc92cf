#include "shell/Startup.h"

#include "platform/Application.h"
#include "platform/Files.h"
#include "product/Product.h"
#include "shell/Class1.h"
#include "shell/FileTypes.h"
#include "shell/Menu.h"

namespace halvoric {

int Main(int argc, char** argv) {
    // The framework's runtime, with what the program is built with: the
    // maker's service on its built-in host, reached through the system's
    // trust store and resolver on the system's clock; the pictures in
    // "Resources" beside the folder that holds the executable.
    platform::Runtime runtime({.name = std::string(product::kProductName),
                               .majorVersion = product::kMajorVersion,
                               .minorVersion = product::kMinorVersion,
                               .bugVersion = product::kBugVersion,
                               .longVersion = std::string(product::kLongVersion),
                               .applicationId = std::string(product::kApplicationId),
                               .handOverTimeout = platform::ApplicationBus::kHandOverTimeout,
                               .iconFileName = "halvoric.png",
                               .serviceHost = std::string(product::kServiceHost),
                               .resourcesFolder = platform::InstallationResourcesFolder(platform::ExecutableFile())});
    platform::RuntimeSetExceptionHelper(&platform::CallFunctionWithExceptionHandling);
    platform::RunFrameworkInitialization(argc, argv, &Startup);
    const int status = platform::RuntimeRun();
    platform::CloseAllWindows();
    ReleaseModuleState();
    return platform::RuntimeShutdown(status);
}

void Startup() {
    InitFileTypes();
    NewAppInstance();
    ApplicationAddMenuHandlers();
}

void InitFileTypes() {
    FileTypes::Initialize();
}

void NewAppInstance() {
    auto app = platform::Make<Class1>();
    app->SetMenuBar(Menu::Instance());
    platform::RuntimeRegisterAppObject(app);
}

void ReleaseModuleState() {
    FileTypes::Release();
    Menu::ReleaseInstance();
}

}  // namespace halvoric
