#pragma once

// The two requests to the maker's service, the update check and the launch
// report, as plain calls that answer with what the service replied. Nothing
// here shows anything.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/SSLSocket.h"
#include "platform/Ticks.h"

namespace halvoric {

// The service paths and the time-outs given to the form-post client.
inline constexpr std::string_view kVersionCheckPath = "/www/ssl/vcheck.php";
inline constexpr std::string_view kLaunchReportPath = "/www/ssl/kcheck.php";
inline constexpr std::int32_t kVersionCheckTimeoutSeconds = 10;
inline constexpr std::int32_t kLaunchReportTimeoutSeconds = 1;

// Where the requests go: the service's host (a host name, or host:port), what
// the connection trusts and resolves beyond the system's own, and the clock
// its time-outs run on.
struct ServiceEndpoint {
    std::string host;
    platform::ConnectionSettings settings;
    std::shared_ptr<const platform::Clock> clock = platform::SystemClock();
};

// The form fields that both requests post, in this order, as app_id, ver and
// regi.
struct ServiceForm {
    std::string appId;        // the application identifier, "3"
    std::string version;      // the compact version string, "120" for 1.2.0
    std::string productName;  // "Halvoric" for the update check, "Halvorik" for the launch report
};

// What came back from one request.
struct ServiceReply {
    // The reply body exactly as received; empty when no connection came about.
    std::string body;
    // The HTTP status of the reply; 0 when none was read.
    std::int32_t httpStatus = 0;
    // The form-post client's error code; 0 when the reply ended normally.
    std::int32_t errorCode = 0;
};

// Posts `form` over HTTPS to `path` on the endpoint's host and waits for the
// reply, for at most `timeoutSeconds` without progress.
ServiceReply PostServiceForm(const ServiceEndpoint& endpoint, std::string_view path, const ServiceForm& form,
                             std::int32_t timeoutSeconds);

// The update check's three outcomes, judged on the whole reply body whatever
// the HTTP status: exactly "true", exactly "false", or anything else.
enum class UpdateOutcome { UpdateAvailable, UpToDate, CheckFailed };
UpdateOutcome JudgeVersionCheckReply(std::string_view body);

}  // namespace halvoric
