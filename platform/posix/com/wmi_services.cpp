// The stand-in's "ROOT\CIMV2" namespace: the two process-trace notification
// queries, fed by the process events in use, and their cancellation.
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "common/ascii_case.h"
#include "platform/posix/com/com_object.h"
#include "platform/posix/com/wmi_objects.h"

namespace platform::posix {
namespace {

std::optional<ProcessEventKind> KindOfQuery(std::u16string_view query) {
  if (query == u"SELECT * FROM Win32_ProcessStartTrace") return ProcessEventKind::Start;
  if (query == u"SELECT * FROM Win32_ProcessStopTrace") return ProcessEventKind::Stop;
  return std::nullopt;
}

bool IsWql(std::u16string_view language) { return common::EqualsIgnoringAsciiCase(language, u"WQL"); }

// Hands one event to the query's handler, which stays referenced for the call
// (the handler may cancel its own query from inside it).
void Deliver(IWbemObjectSink* handler, const ProcessEvent& event) {
  IWbemClassObject* object = NewProcessEventObject(event);
  handler->AddRef();
  handler->Indicate(1, &object);
  handler->Release();
  object->Release();
}

// Calls may come from any thread; the namespace guards its table of queries.
class ManagementServices final : public ComObject<IWbemServices, kIidIWbemServices> {
 public:
  // Ends every query, with its handler told that the call was cancelled.
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* pSink) override {
    if (pSink == nullptr) return kWbemEInvalidParameter;
    std::vector<Query> ended;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      for (auto it = mQueries.begin(); it != mQueries.end();) {
        if (it->Handler == pSink) {
          ended.push_back(*it);
          it = mQueries.erase(it);
        } else {
          ++it;
        }
      }
    }
    if (ended.empty()) return kWbemENotFound;
    for (const Query& query : ended) End(query);
    return kWbemSNoError;
  }

  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                                       IWbemContext*, IWbemObjectSink* pResponseHandler) override {
    if (pResponseHandler == nullptr) return kWbemEInvalidParameter;
    if (!IsWql(BstrText(strQueryLanguage))) return kWbemEInvalidQueryType;
    const std::optional<ProcessEventKind> kind = KindOfQuery(BstrText(strQuery));
    if (!kind) return kWbemEInvalidQuery;

    pResponseHandler->AddRef();  // the query's reference, dropped when it ends
    ProcessEvents& events = CurrentProcessEvents();
    const std::uint64_t id =
        events.Subscribe(*kind, [pResponseHandler](const ProcessEvent& event) { Deliver(pResponseHandler, event); });
    if (id == 0) {
      pResponseHandler->Release();
      return kWbemEFailed;
    }
    std::lock_guard<std::mutex> lock(mMutex);
    mQueries.push_back({pResponseHandler, &events, id, (lFlags & kWbemFlagSendStatus) != 0});
    return kWbemSNoError;
  }

 private:
  struct Query {
    IWbemObjectSink* Handler;
    ProcessEvents* Events;  // where it subscribed
    std::uint64_t Subscription;
    bool SendStatus;
  };

  // Queries still running when the last reference goes end with it.
  ~ManagementServices() override {
    for (const Query& query : mQueries) End(query);
  }

  // After the unsubscription no delivery of the query runs or starts.
  static void End(const Query& query) {
    query.Events->Unsubscribe(query.Subscription);
    if (query.SendStatus) query.Handler->SetStatus(kWbemStatusComplete, kWbemECallCancelled, nullptr, nullptr);
    query.Handler->Release();
  }

  std::mutex mMutex;
  std::vector<Query> mQueries;
};

}  // namespace

IWbemServices* NewManagementServices() { return new ManagementServices(); }

}  // namespace platform::posix
