// An endpoint on a temporary runtime directory with the widget provider
// registered, and clients that talk to it through the socket.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestProvider.h"
#include "WbemClient.h"
#include "WbemServer.h"

namespace wbemtest {

namespace wire = svcproc::wbemwire;

struct Answer {
    std::vector<wire::Object> objects;
    bool hasStatus = false;
    wire::Status status;
    bool closedAfter = false; // the endpoint closed the connection after the status
};

// Reads replies until a status; `expectClose`: then waits for the endpoint
// to end the connection.
Answer ReadAnswer(wire::ClientConnection& connection, bool expectClose = false);
const wire::Property* FindProperty(const wire::Object& object, const std::string& name);

class EndpointTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Register();
    void Unregister();
    Answer Query(wire::MessageType type, const std::string& target, uint8_t level = 3,
                 const std::string& nameSpace = "root\\cimv2");
    // Connects and asks to watch; the connection then waits for events.
    bool StartWatch(wire::ClientConnection& connection, const std::string& eventClass,
                    wire::Status* status);

    std::string m_Dir;
    CWidgetProvider* m_pProvider = nullptr;
    IWbemDecoupledRegistrar* m_pRegistrar = nullptr;
    bool m_bRegistered = false;
};

} // namespace wbemtest
