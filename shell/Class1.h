#pragma once

#include <string>

#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Ref.h"

namespace halvoric {

// Class1 is Halvoric's application object: it answers the application's
// events, carries the menu actions and puts the answers of the inspection and
// of the maker's service on screen. It holds no state of its own.
class Class1 : public platform::Application {
public:
    void Event_EnableMenuItems() override;
    void Event_OpenDocument(const platform::Ref<platform::FolderItem>& item) override;
    void Event_Open() override;

    // The actions of the menu items "hiraku" (開く, open a document), "kono"
    // (この…, About this application) and "upchk" (Update Check); each returns
    // whether it handled the choice, which is always false.
    bool _hiraku_Action();
    bool _kono_Action();
    bool _upchk_Action();

    // Inspects one document and shows the result in a new result window.
    void VersionCheck(const platform::Ref<platform::FolderItem>& file);
    // Asks the maker's service whether a newer version exists; returns its reply.
    std::string UpdateCheck(const std::string& appId, const std::string& version, const std::string& productName);
    // Posts the launch report; the reply is not looked at.
    void kcheck(const std::string& appId, const std::string& version, const std::string& productName);

private:
    // The open-file dialog for InDesign documents, then the inspection of the chosen one.
    void ChooseAndInspect();
};

// The running application object.
platform::Ref<Class1> App();

// The compact version string: the major, minor and bug version numbers
// written one after the other ("120" for 1.2.0, "1103" for 1.10.3).
std::string CompactVersion();

}  // namespace halvoric
