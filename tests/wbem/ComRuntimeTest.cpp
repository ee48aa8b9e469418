// Apartments, process security, object creation and the client call context.
// COM state is per thread: each case that initialises COM runs on a thread
// of its own and leaves it balanced.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "Com.h"
#include "ComObject.h"

namespace {

template <typename F> void OnThread(F body) {
    std::thread(body).join();
}

constexpr CLSID kTestClass = svcproc::com::LayerGuid(0x7E, 0x01);
constexpr IID kTestInterface = svcproc::com::LayerGuid(0x7E, 0x02);

class TestObject final : public svcproc::com::CUnknownImpl<IUnknown, kTestInterface> {};

HRESULT CreateTestObject(REFIID riid, void** ppv) {
    auto* object = new TestObject;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

class FactoryGuard {
public:
    FactoryGuard(REFCLSID clsid, svcproc::com::ClassFactory factory) : m_Clsid(clsid) {
        svcproc::com::RegisterClassFactory(clsid, std::move(factory));
    }
    ~FactoryGuard() { svcproc::com::UnregisterClassFactory(m_Clsid); }

private:
    CLSID m_Clsid;
};

TEST(CoInitialize, FirstCallSucceedsLaterCallsAnswerFalse) {
    OnThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "fully left before";
        CoUninitialize();
    });
}

TEST(CoInitialize, AnotherModelOnTheSameThreadIsRefused) {
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize(); // the refused call owes nothing: this one leaves COM
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(CoInitialize, ThreadsAreIndependent) {
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        OnThread([] {
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
            CoUninitialize();
        });
        CoUninitialize();
    });
}

TEST(CoInitialize, RefusesReservedPointerAndUnknownFlags) {
    OnThread([] {
        int reserved = 0;
        EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
        EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
        CoUninitialize(); // nothing to undo: harmless
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

HRESULT InitializeDefaultSecurity() {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_DYNAMIC_CLOAKING, nullptr);
}

TEST(CoInitializeSecurity, OncePerProcess) {
    OnThread([] {
        EXPECT_EQ(InitializeDefaultSecurity(), CO_E_NOTINITIALIZED);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(InitializeDefaultSecurity(), S_OK);
        EXPECT_EQ(InitializeDefaultSecurity(), RPC_E_TOO_LATE);
        OnThread([] {
            ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
            EXPECT_EQ(InitializeDefaultSecurity(), RPC_E_TOO_LATE) << "process-wide";
            CoUninitialize();
        });
        CoUninitialize();
    });
}

TEST(CoInitializeSecurity, CanBeSetAgainAfterCOMShutDownCompletely) {
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(InitializeDefaultSecurity(), S_OK);
        CoUninitialize();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(InitializeDefaultSecurity(), S_OK);
        CoUninitialize();
    });
}

TEST(CoInitializeSecurity, AThreadEndingWithoutUninitializeStillLeaves) {
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(InitializeDefaultSecurity(), S_OK);
    });
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(InitializeDefaultSecurity(), S_OK);
        CoUninitialize();
    });
}

TEST(CoInitializeSecurity, RefusesOutOfRangeLevels) {
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 7, RPC_C_IMP_LEVEL_IDENTIFY,
                                       nullptr, EOAC_NONE, nullptr),
                  E_INVALIDARG);
        EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT, 5,
                                       nullptr, EOAC_NONE, nullptr),
                  E_INVALIDARG);
        EXPECT_EQ(InitializeDefaultSecurity(), S_OK) << "a refused call sets nothing";
        CoUninitialize();
    });
}

TEST(CoCreateInstance, CreatesThroughTheRegisteredFactory) {
    FactoryGuard guard(kTestClass, CreateTestObject);
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        IUnknown* object = nullptr;
        ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kTestInterface,
                                   reinterpret_cast<void**>(&object)),
                  S_OK);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->Release(), 0u);
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER,
                                   svcproc::com::LayerGuid(0x7E, 0x03), &none),
                  E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);
        CoUninitialize();
    });
}

TEST(CoCreateInstance, Refusals) {
    FactoryGuard guard(kTestClass, CreateTestObject);
    OnThread([] {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(
            CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CO_E_NOTINITIALIZED);
        EXPECT_EQ(object, nullptr);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoCreateInstance(svcproc::com::LayerGuid(0x7E, 0x09), nullptr,
                                   CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                  REGDB_E_CLASSNOTREG);
        TestObject* outer = nullptr;
        EXPECT_EQ(CoCreateInstance(kTestClass, reinterpret_cast<IUnknown*>(&outer),
                                   CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(
            CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);
        CoUninitialize();
    });
}

TEST(CoCreateInstance, AThreadWithoutItsOwnInitUsesTheProcessApartment) {
    FactoryGuard guard(kTestClass, CreateTestObject);
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        OnThread([] {
            IUnknown* object = nullptr;
            ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       reinterpret_cast<void**>(&object)),
                      S_OK);
            object->Release();
        });
        CoUninitialize();
    });
}

TEST(CoCreateInstance, AThrowingFactoryFailsCleanly) {
    FactoryGuard guard(
        kTestClass, [](REFIID, void**) -> HRESULT { throw std::runtime_error("factory broke"); });
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        void* object = nullptr;
        EXPECT_EQ(
            CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            E_FAIL);
        EXPECT_EQ(object, nullptr);
        CoUninitialize();
    });
}

TEST(RegisterClassFactory, ReturnsTheFactoryItReplaces) {
    FactoryGuard guard(kTestClass, CreateTestObject);
    svcproc::com::ClassFactory refusing = [](REFIID, void**) { return E_ACCESSDENIED; };
    svcproc::com::ClassFactory previous = svcproc::com::RegisterClassFactory(kTestClass, refusing);
    ASSERT_TRUE(previous);
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
                  E_ACCESSDENIED);
        CoUninitialize();
    });
    EXPECT_FALSE(svcproc::com::RegisterClassFactory(svcproc::com::LayerGuid(0x7E, 0x0A), {}));
    svcproc::com::UnregisterClassFactory(svcproc::com::LayerGuid(0x7E, 0x0A));
    svcproc::com::RegisterClassFactory(kTestClass, previous);
}

TEST(Impersonation, FailsOutsideAClientCall) {
    OnThread([] {
        EXPECT_EQ(CoImpersonateClient(), RPC_E_NO_CONTEXT);
        EXPECT_EQ(CoRevertToSelf(), RPC_E_NO_CONTEXT);
        EXPECT_EQ(svcproc::com::GetImpersonatedClient(), nullptr);
    });
}

TEST(Impersonation, TakesOnTheCallersIdentityUntilReverted) {
    OnThread([] {
        svcproc::com::CallContext client;
        client.uid = 65534;
        client.gid = 65534;
        client.pid = 4242;
        client.impersonationLevel = RPC_C_IMP_LEVEL_ANONYMOUS;
        svcproc::com::SetCallContext(&client);
        EXPECT_EQ(svcproc::com::GetCallContext(), &client);
        EXPECT_EQ(svcproc::com::GetImpersonatedClient(), nullptr) << "not before the call";
        EXPECT_EQ(CoImpersonateClient(), S_OK) << "any level may impersonate";
        EXPECT_EQ(svcproc::com::GetImpersonatedClient(), &client);
        OnThread([] { EXPECT_EQ(svcproc::com::GetImpersonatedClient(), nullptr); });
        EXPECT_EQ(CoRevertToSelf(), S_OK);
        EXPECT_EQ(svcproc::com::GetImpersonatedClient(), nullptr);
        EXPECT_EQ(CoImpersonateClient(), S_OK);
        svcproc::com::SetCallContext(nullptr);
        EXPECT_EQ(svcproc::com::GetImpersonatedClient(), nullptr) << "the call's end reverts";
        EXPECT_EQ(CoImpersonateClient(), RPC_E_NO_CONTEXT);
    });
}

TEST(HResultText, NamesCodesInWords) {
    EXPECT_STREQ(svcproc::com::HResultText(WBEM_E_ACCESS_DENIED), "access denied");
    EXPECT_STREQ(svcproc::com::HResultText(WBEM_E_NOT_FOUND), "not found");
    EXPECT_STREQ(svcproc::com::HResultText(WBEM_E_PROVIDER_NOT_FOUND), "provider not found");
    EXPECT_EQ(svcproc::com::HResultText(MakeHResult(0x8BADF00Du)), nullptr);
    EXPECT_EQ(WBEM_E_INVALID_CLASS, MakeHResult(0x80041010u));
    EXPECT_EQ(E_OUTOFMEMORY, MakeHResult(0x8007000Eu));
    EXPECT_TRUE(FAILED(RPC_E_TOO_LATE));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

} // namespace
