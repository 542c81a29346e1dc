// A stand-in for Word as a COM server: an in-process server (apartment
// threaded) registered by the test under its own class id for the name
// "word.Application". It answers what the Word replace asks (Documents.Open,
// Content.Find.Execute, Close, Quit) and finds the text in every document.
// Each object answers only on the thread that created it, as an
// apartment-threaded object does: a call from another thread fails with
// RPC_E_WRONG_THREAD. The test reads what happened through the exported
// functions below.

#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace {

// {6B1E2F4A-93C5-4D1B-8E27-5A0C3B9D7F41}
const CLSID kClassId = {
    0x6b1e2f4a, 0x93c5, 0x4d1b, {0x8e, 0x27, 0x5a, 0x0c, 0x3b, 0x9d, 0x7f, 0x41}};

std::atomic<long> objects{0};
std::atomic<long> locks{0};
std::atomic<DWORD> creatorThread{0};
std::atomic<long> opened{0};
std::atomic<long> wrongThreadCalls{0};

// Member names get ids on first use; the same name (any case) the same id.
std::mutex namesMutex;
std::map<std::wstring, DISPID> names;

std::wstring folded(const wchar_t* name) {
    std::wstring out(name);
    for (wchar_t& c : out)
        c = static_cast<wchar_t>(towlower(c));
    return out;
}

DISPID idOf(const wchar_t* name) {
    const std::lock_guard lock(namesMutex);
    const auto [it, added] = names.emplace(folded(name), DISPID(names.size() + 1));
    return it->second;
}

bool is(DISPID id, const wchar_t* name) {
    return id == idOf(name);
}

class StandIn : public IDispatch {
public:
    StandIn() : thread_(GetCurrentThreadId()) { ++objects; }
    virtual ~StandIn() { --objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (GetCurrentThreadId() != thread_) {
            ++wrongThreadCalls;
            return RPC_E_WRONG_THREAD;
        }
        for (UINT i = 0; i < count; ++i)
            ids[i] = idOf(names[i]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        if (GetCurrentThreadId() != thread_) {
            ++wrongThreadCalls;
            return RPC_E_WRONG_THREAD;
        }
        if (result)
            VariantInit(result);
        if (is(id, L"Documents") || is(id, L"Content") || is(id, L"Find") ||
            is(id, L"ActiveDocument") || is(id, L"Open")) {
            if (is(id, L"Open")) {
                if (params->cArgs < 1)
                    return DISP_E_BADPARAMCOUNT;
                ++opened;
            }
            if (result) {
                result->vt = VT_DISPATCH;
                result->pdispVal = new StandIn();
            }
            return S_OK;
        }
        if (is(id, L"Execute") && result) {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        }
        // Close, Quit, Visible and the rest: accepted, nothing to answer.
        return S_OK;
    }

private:
    std::atomic<long> refs_{1};
    DWORD thread_;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        creatorThread = GetCurrentThreadId();
        auto* application = new StandIn();
        const HRESULT hr = application->QueryInterface(iid, out);
        application->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        locks += lock ? 1 : -1;
        return S_OK;
    }
};

Factory factory;

} // namespace

extern "C" {

__declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
    if (id != kClassId) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, out);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return objects == 0 && locks == 0 ? S_OK : S_FALSE;
}

// The thread the last application object was created on; 0 before.
__declspec(dllexport) DWORD standInCreatorThread() {
    return creatorThread;
}
// Documents opened so far.
__declspec(dllexport) long standInOpened() {
    return opened;
}
// Calls made from a thread other than the object's own.
__declspec(dllexport) long standInWrongThreadCalls() {
    return wrongThreadCalls;
}

} // extern "C"
