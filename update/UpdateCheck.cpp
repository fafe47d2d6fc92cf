// The two requests to the maker's service: the update check on demand and
// the launch report at every start.

#include <string>

#include "platform/Desktop.h"
#include "platform/Dictionary.h"
#include "shell/Class1.h"
#include "update/HTTPSecureSocket.h"
#include "update/ServiceHost.h"
#include "update/UpdateWin.h"

namespace halvoric {

using namespace platform;

namespace {

// Posts the three form fields to `path` on the service host and returns the
// reply body (empty when no connection came about).
std::string PostForm(const std::string& path, std::int32_t timeoutSeconds, const std::string& appId,
                     const std::string& version, const std::string& productName) {
    HTTPSecureSocket socket;
    socket.SetSecure(true);
    auto form = Make<Dictionary>();
    form->SetValue("app_id", appId);
    form->SetValue("ver", version);
    form->SetValue("regi", productName);
    socket.SetFormData(form);
    std::string reply = socket.Post("https://" + ServiceHost() + path, timeoutSeconds);
    socket.Close();
    return reply;
}

}  // namespace

bool Class1::_upchk_Action() {
    const std::string reply = UpdateCheck("3", CompactVersion(), "Halvoric");
    // The whole body decides, whatever the HTTP status.
    if (reply == "true") {
        UpdateWin::Instance()->Show();
    } else if (reply == "false") {
        MsgBox("最新版を使用しています。");
    } else {
        MsgBox("通信に障害があり、確認できませんでした。");
    }
    return false;
}

std::string Class1::UpdateCheck(const std::string& appId, const std::string& version,
                                const std::string& productName) {
    return PostForm("/www/ssl/vcheck.php", 10, appId, version, productName);
}

void Class1::kcheck(const std::string& appId, const std::string& version, const std::string& productName) {
    PostForm("/www/ssl/kcheck.php", 1, appId, version, productName);
}

}  // namespace halvoric
