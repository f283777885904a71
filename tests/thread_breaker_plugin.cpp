// A plug-in that breaks the host's threading contract on purpose: at load it makes both
// host-only calls from a thread of its own. The simulator must refuse them and fail the run.
#include <cstring>
#include <new>
#include <thread>

#include "spfPlugin8.h"

namespace {

char* copyOf(const char* text, std::size_t size) {
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

class ThreadBreaker : public ISpfPlugin8 {
  public:
    SPFRESULT OnLoad() override {
        std::thread([this] {
            host->declareParameter(&switchValue, SPF_PARAM_SWITCH, 0, "Off Thread", "OFF", 0);
            host->runCommand("set $breaker 1");
        }).join();
        return SPF_OK;
    }
    SPFRESULT OnGetPluginInfo(TSpfPluginInfo8* info) override {
        info->pluginName = "ThreadBreaker";
        info->author = "tests";
        return SPF_OK;
    }
    SPFRESULT OnGetUserInterface(TSpfPluginInterface8* ui) override {
        const char xml[] = "<skin/>";
        ui->type = SPF_INTERFACE_SKIN;
        ui->skinXml = copyOf(xml, sizeof xml);
        ui->imageData = copyOf("P", 1);
        ui->imageSize = 1;
        return SPF_OK;
    }
    SPFRESULT Release() override {
        delete this;
        return SPF_OK;
    }

  private:
    std::int32_t switchValue = 0;
};

}  // namespace

extern "C" SPFRESULT DllGetClassObject(const SpfGuid& rclsid, const SpfGuid& riid,
                                       void** ppObject) {
    if (ppObject == nullptr || rclsid != CLSID_SpfPlugin8 || riid != IID_ISpfPluginBasic8)
        return static_cast<SPFRESULT>(-1);
    *ppObject = static_cast<ISpfPlugin8*>(new (std::nothrow) ThreadBreaker());
    return *ppObject != nullptr ? SPF_OK : static_cast<SPFRESULT>(-1);
}
