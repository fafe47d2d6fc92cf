#include "update/ServiceRequest.h"

#include "platform/Dictionary.h"
#include "update/HTTPSecureSocket.h"

namespace halvoric {

ServiceReply PostServiceForm(const ServiceEndpoint& endpoint, std::string_view path, const ServiceForm& form,
                             std::int32_t timeoutSeconds) {
    HTTPSecureSocket socket;
    socket.SetSecure(true);
    socket.SetConnectionSettings(endpoint.settings);
    socket.SetClock(endpoint.clock);
    auto fields = platform::Make<platform::Dictionary>();
    fields->SetValue("app_id", form.appId);
    fields->SetValue("ver", form.version);
    fields->SetValue("regi", form.productName);
    socket.SetFormData(fields);
    ServiceReply reply;
    reply.body = socket.Post("https://" + endpoint.host + std::string(path), timeoutSeconds);
    reply.httpStatus = socket.HTTPStatusCode();
    reply.errorCode = socket.ErrorCode();
    socket.Close();
    return reply;
}

UpdateOutcome JudgeVersionCheckReply(std::string_view body) {
    if (body == "true") return UpdateOutcome::UpdateAvailable;
    if (body == "false") return UpdateOutcome::UpToDate;
    return UpdateOutcome::CheckFailed;
}

}  // namespace halvoric
