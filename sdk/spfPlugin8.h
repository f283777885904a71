// Spinforge host plug-in interface, version 8.
//
// The host loads a plug-in library, calls its exported DllGetClassObject with CLSID_SpfPlugin8 and
// IID_ISpfPluginBasic8, fills the base-class data (bundle handle, host callbacks) and then calls
// the virtual operations below on its own thread. The vtable layouts of ISpfPlugin8 and
// ISpfHost8 are the binary contract: never reorder, insert or remove a virtual operation.
#ifndef SPF_PLUGIN8_H
#define SPF_PLUGIN8_H

#include <cstdint>

typedef std::int32_t SPFRESULT;

#define SPF_OK ((SPFRESULT)0)
#define SPF_FAIL ((SPFRESULT)0x80004005)
#define SPF_NOTIMPL ((SPFRESULT)0x80004001)

// A class or interface identifier; two identifiers are equal only when every byte is.
struct SpfGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

inline bool operator==(const SpfGuid& a, const SpfGuid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}
inline bool operator!=(const SpfGuid& a, const SpfGuid& b) {
    return !(a == b);
}

inline constexpr SpfGuid CLSID_SpfPlugin8 = {
    0x5f1c2a90, 0x7d3e, 0x4b61, {0x9a, 0x4e, 0x21, 0xc8, 0x0b, 0x57, 0xe3, 0x18}};
inline constexpr SpfGuid IID_ISpfPluginBasic8 = {
    0x0e6b94d2, 0x3a17, 0x4f0c, {0xb2, 0x85, 0x6d, 0x11, 0xf4, 0x9c, 0x20, 0x7a}};

// Parameter kinds for ISpfHost8::declareParameter.
enum SpfParameterKind : std::int32_t {
    SPF_PARAM_BUTTON = 0,      // int32 storage; the plug-in acts when called with the value 0
    SPF_PARAM_SWITCH = 2,      // int32 storage; non-zero is on
    SPF_PARAM_TEXT = 3,        // char buffer of `value` bytes, shown by the host
    SPF_PARAM_KEPT_BLOCK = 4,  // char buffer of `value` bytes, kept whole between runs
};

// Interface kind in TSpfPluginInterface8::type.
enum : std::int32_t { SPF_INTERFACE_SKIN = 1 };

// Size of the answer buffer the host callbacks are always given for text queries.
enum : std::int32_t { SPF_QUERY_TEXT_SIZE = 2048 };

struct TSpfPluginInfo8 {
    const char* pluginName;
    const char* author;
};

struct TSpfPluginInterface8 {
    std::int32_t type;       // SPF_INTERFACE_SKIN
    const char* skinXml;     // NUL-terminated skin description; owned by the host afterwards
    const char* imageData;   // skin image file bytes; owned by the host afterwards
    std::int32_t imageSize;  // bytes at imageData
};

// The host's callbacks. No result is examined by plug-ins.
class ISpfHost8 {
  public:
    // Runs a host script command, such as "set $name 1". Host thread only.
    virtual SPFRESULT runCommand(const char* command) = 0;
    // Numeric query; *out is preset by the caller and overwritten by an answer. Any thread.
    virtual SPFRESULT queryNumber(const char* query, double* out) = 0;
    // Text query; the answer lands in out as NUL-terminated text of at most size bytes. Any
    // thread.
    virtual SPFRESULT queryText(const char* query, char* out, std::int32_t size) = 0;
    // Registers parameter storage; the host may fill it with a value kept from an earlier run
    // before returning. `value` is the buffer size for text kinds, 0 otherwise. Host thread only.
    virtual SPFRESULT declareParameter(void* storage, std::int32_t kind, std::int32_t id,
                                       const char* name, const char* shortName, float value) = 0;

  protected:
    ~ISpfHost8() = default;  // never deleted through this interface
};

class ISpfPlugin8 {
  public:
    virtual SPFRESULT OnLoad() = 0;
    virtual SPFRESULT OnGetPluginInfo(TSpfPluginInfo8* info) = 0;
    // Stops the plug-in and deletes the object; the host makes no call on it afterwards.
    virtual SPFRESULT Release() = 0;
    virtual ~ISpfPlugin8() = default;
    virtual SPFRESULT OnParameter(std::int32_t /*id*/) { return SPF_OK; }
    virtual SPFRESULT OnGetParameterString(std::int32_t /*id*/, char* /*out*/,
                                           std::int32_t /*size*/) {
        return SPF_NOTIMPL;
    }
    virtual SPFRESULT OnGetUserInterface(TSpfPluginInterface8* /*ui*/) { return SPF_NOTIMPL; }

    // Set by the host before OnLoad.
    void* bundle = nullptr;     // the host's handle of the plug-in's bundle
    ISpfHost8* host = nullptr;  // the host's callbacks
};

#ifndef SPF_PLUGIN_EXPORT
#define SPF_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

// The class factory every plug-in library exports.
extern "C" SPF_PLUGIN_EXPORT SPFRESULT DllGetClassObject(const SpfGuid& rclsid, const SpfGuid& riid,
                                                         void** ppObject);
typedef SPFRESULT (*SpfGetClassObjectFn)(const SpfGuid&, const SpfGuid&, void**);

#endif
