#include "utils/errors.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

template <class Caught, class Thrown> bool caughtAs()
{
    try {
        throw Thrown();
    } catch (const Caught&) {
        return true;
    } catch (...) {
        return false;
    }
}

template <class Child, class Parent> void expectFamily()
{
    static_assert(std::is_base_of_v<Parent, Child>);
    static_assert(std::is_empty_v<Child> || sizeof(Child) == sizeof(std::exception));
    EXPECT_TRUE((caughtAs<Parent, Child>()));
    EXPECT_TRUE((caughtAs<Utils::VeldraneError, Child>()));
    EXPECT_TRUE((caughtAs<std::exception, Child>()));
}

} // namespace

TEST(Errors, EveryErrorIsCaughtByItsAncestors)
{
    using namespace Utils;
    expectFamily<MutexError, VeldraneError>();
    expectFamily<AudioInitError, AudioError>();
    expectFamily<AudioTriggerError, AudioError>();
    expectFamily<AdDataError, AdError>();
    expectFamily<AdReadError, AdError>();
    expectFamily<NetErrorBind, NetErrorInit>();
    expectFamily<NetErrorCreateSocket, NetErrorInit>();
    expectFamily<NetErrorLibrary, NetErrorInit>();
    expectFamily<NetErrorWakeup, NetErrorInit>();
    expectFamily<NetErrorFault, NetErrorSend>();
    expectFamily<NetErrorSelect, NetErrorSend>();
    expectFamily<NetErrorTimeout, NetErrorSend>();
    for (bool caught : {caughtAs<NetError, NetErrorInit>(), caughtAs<NetError, NetErrorBind>(),
                        caughtAs<NetError, NetErrorCreateSocket>(), caughtAs<NetError, NetErrorSend>(),
                        caughtAs<NetError, NetErrorFault>(), caughtAs<NetError, NetErrorSelect>(),
                        caughtAs<NetError, NetErrorTimeout>()})
        EXPECT_TRUE(caught);
}

TEST(Errors, FamiliesDoNotCatchEachOther)
{
    using namespace Utils;
    EXPECT_FALSE((caughtAs<NetError, MutexError>()));
    EXPECT_FALSE((caughtAs<AdError, AudioError>()));
    EXPECT_FALSE((caughtAs<AudioError, AdReadError>()));
    EXPECT_FALSE((caughtAs<NetErrorSend, NetErrorInit>()));
    EXPECT_FALSE((caughtAs<NetErrorTimeout, NetErrorFault>()));
    EXPECT_FALSE((caughtAs<AdDataError, AdReadError>()));
}
