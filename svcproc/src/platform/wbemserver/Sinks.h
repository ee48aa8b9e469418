// The sinks the endpoint hands to providers: one that streams a request's
// objects to its client, one that fans events out to every watcher.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "ComObject.h"
#include "Connection.h"
#include "Wbem.h"

namespace svcproc::wbemserver {

// The wire form of an object: its class and every property with its value
// (null for a property without one).
wbemwire::Object EncodeWbemObject(IWbemClassObject* object);

// Base for the two sinks: reference counting and QueryInterface.
using CSinkBase = com::CUnknownImpl<IWbemObjectSink, IID_IWbemObjectSink>;

// Response handler of one enumeration or lookup. Created with count 1.
class CStreamSink final : public CSinkBase {
public:
    explicit CStreamSink(ConnectionPtr connection) : m_pConnection(std::move(connection)) {}

    HRESULT Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) override;
    HRESULT SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                      IWbemClassObject* pObjParam) override;

    // Waits up to `milliseconds` for the final status; false on time-out.
    bool WaitForStatus(uint32_t milliseconds, HRESULT* status);
    size_t Indicated() const { return m_nIndicated.load(); }

private:
    ConnectionPtr m_pConnection;
    std::atomic<size_t> m_nIndicated{0};
    std::mutex m_Mutex;
    std::condition_variable m_Done;
    bool m_bHasStatus = false;
    HRESULT m_hrStatus = WBEM_S_NO_ERROR;
};

// The event sink a provider gets from ProvideEvents. Events go to each
// watcher of their class without waiting: a watcher that cannot take one
// at once is dropped, so a stalled client never holds up the provider's
// thread. Created with count 1.
class CEventFanout final : public CSinkBase {
public:
    HRESULT Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) override;
    HRESULT SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                      IWbemClassObject* pObjParam) override;

    // Adds the watcher and sends `statusFrame` to it first, so no event can
    // come ahead of it.
    void Add(const ConnectionPtr& connection, const std::vector<uint8_t>& statusFrame);
    void Remove(const ConnectionPtr& connection);
    // Sends `frame` to every watcher and drops them all.
    void EndAll(const std::vector<uint8_t>& frame);

private:
    std::mutex m_Lock;
    std::vector<ConnectionPtr> m_vWatchers;
};

} // namespace svcproc::wbemserver
