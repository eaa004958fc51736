#pragma once

#include <exception>

// The program's failures. An error object carries nothing but its class:
// the site that throws prints the reason, if it knows one, just before.
namespace Utils {

#define VELDRANE_ERROR(Name, Parent)                                                                         \
    class Name : public Parent {                                                                             \
    public:                                                                                                  \
        Name() {}                                                                                            \
        ~Name() override {}                                                                                  \
    }

VELDRANE_ERROR(VeldraneError, std::exception);

VELDRANE_ERROR(MutexError, VeldraneError);

VELDRANE_ERROR(AudioError, VeldraneError);
VELDRANE_ERROR(AudioInitError, AudioError);
VELDRANE_ERROR(AudioTriggerError, AudioError);

VELDRANE_ERROR(AdError, VeldraneError);
VELDRANE_ERROR(AdDataError, AdError);
VELDRANE_ERROR(AdReadError, AdError);

VELDRANE_ERROR(NetError, VeldraneError);
VELDRANE_ERROR(NetErrorInit, NetError);
VELDRANE_ERROR(NetErrorBind, NetErrorInit);
VELDRANE_ERROR(NetErrorCreateSocket, NetErrorInit);
VELDRANE_ERROR(NetErrorLibrary, NetErrorInit); // the network library would not start
VELDRANE_ERROR(NetErrorWakeup, NetErrorInit);  // no descriptor to wake a waiting thread
VELDRANE_ERROR(NetErrorSend, NetError);
VELDRANE_ERROR(NetErrorFault, NetErrorSend);
VELDRANE_ERROR(NetErrorSelect, NetErrorSend);
VELDRANE_ERROR(NetErrorTimeout, NetErrorSend);

#undef VELDRANE_ERROR

} // namespace Utils
