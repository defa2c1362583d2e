#include "boundary/host_services.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boundary/host_exceptions.h"
#include "host/doubles/message_receiver.h"
#include "host/doubles/service_registry.h"

namespace velmora {
namespace {

class HostServices : public ::testing::Test {
protected:
    void SetUp() override
    {
        set_service_registry(&registry);
        set_services_ready_flag(1);
    }

    void TearDown() override
    {
        set_service_registry(nullptr);
        set_services_ready_flag(0);
        EXPECT_EQ(audit.findings(), "");
    }

    stand_in::reference_audit audit;
    stand_in::service_registry registry;
};

TEST_F(HostServices, LookupFindsTheOneServiceAndReleasesItWhenDone)
{
    stand_in::message_receiver receiver(audit, "receiver");
    registry.add(kestrune::message_receiver_guid, receiver);
    {
        const auto found = lookup_service<kestrune::message_receiver>(kestrune::message_receiver_guid);
        EXPECT_EQ(found.get(), &receiver);
        EXPECT_EQ(receiver.references(), 2);
    }
    EXPECT_EQ(receiver.references(), 1);
}

TEST_F(HostServices, LookupRefusesNoServiceAndTwoServices)
{
    try {
        lookup_service(kestrune::playback_control_guid);
        FAIL() << "no exception";
    } catch (const exception_service_not_found& error) {
        EXPECT_STREQ(error.what(), "Service not found");
    }

    stand_in::message_receiver first(audit, "first"), second(audit, "second");
    registry.add(kestrune::message_receiver_guid, first);
    registry.add(kestrune::message_receiver_guid, second);
    try {
        lookup_service(kestrune::message_receiver_guid);
        FAIL() << "no exception";
    } catch (const exception_service_duplicated& error) {
        EXPECT_STREQ(error.what(), "Service duplicated");
    }
}

TEST_F(HostServices, LookupWithoutARegistryAsksNothingAndFindsNothing)
{
    set_service_registry(nullptr);
    EXPECT_THROW(lookup_service(kestrune::message_receiver_guid), exception_service_not_found);
    EXPECT_EQ(registry.calls(), 0u);
}

TEST_F(HostServices, AReferenceIsReleasedWhenAnExceptionLeavesItsScope)
{
    stand_in::message_receiver receiver(audit, "receiver");
    registry.add(kestrune::message_receiver_guid, receiver);
    EXPECT_THROW(
        {
            const auto held = lookup_service(kestrune::message_receiver_guid);
            const auto copy = held;
            EXPECT_EQ(receiver.references(), 3);
            throw std::runtime_error("leaving");
        },
        std::runtime_error);
    EXPECT_EQ(receiver.references(), 1);
}

TEST_F(HostServices, QueryByGuidRecognisesOnlyTheClassGuid)
{
    stand_in::message_receiver receiver(audit, "receiver");
    service_ptr<kestrune::service_object> result;
    EXPECT_FALSE(receiver.query_by_guid(result.out_service(), kestrune::playback_control_guid));
    EXPECT_FALSE(result);
    EXPECT_TRUE(receiver.query_by_guid(result.out_service(), kestrune::message_receiver_guid));
    EXPECT_TRUE(receiver.query_by_guid(result.out_service(), kestrune::message_receiver_guid));
    EXPECT_EQ(receiver.references(), 2);
}

TEST_F(HostServices, BroadcastReachesEveryReceiverOnceInIndexOrder)
{
    std::vector<std::string> journal;
    stand_in::message_receiver first(audit, "first"), second(audit, "second"), third(audit, "third");
    for (stand_in::message_receiver* receiver : {&first, &second, &third}) {
        receiver->journal = &journal;
        registry.add(kestrune::message_receiver_guid, *receiver);
    }
    send_to_message_receivers("one line");
    EXPECT_EQ(journal, (std::vector<std::string>{"first", "second", "third"}));
    for (stand_in::message_receiver* receiver : {&first, &second, &third})
        EXPECT_EQ(receiver->lines, std::vector<std::string>{"one line"});
}

TEST_F(HostServices, BroadcastAsksTheHostNothingUntilTheServicesAreReady)
{
    stand_in::message_receiver receiver(audit, "receiver");
    registry.add(kestrune::message_receiver_guid, receiver);
    set_services_ready_flag(0);
    send_to_message_receivers("too early");
    EXPECT_EQ(registry.calls(), 0u);
    EXPECT_TRUE(receiver.lines.empty());
}

TEST_F(HostServices, EnumerationReleasesEachInstanceEvenWhenTheVisitorThrows)
{
    stand_in::message_receiver first(audit, "first"), second(audit, "second");
    registry.add(kestrune::message_receiver_guid, first);
    registry.add(kestrune::message_receiver_guid, second);
    int visits = 0;
    EXPECT_THROW(enumerate_services(kestrune::message_receiver_guid,
                                    [&visits](kestrune::service_object&) {
                                        if (++visits == 2)
                                            throw std::runtime_error("visitor failed");
                                    }),
                 std::runtime_error);
    EXPECT_EQ(visits, 2);
    enumerate_services(kestrune::playback_control_guid, [&visits](kestrune::service_object&) { ++visits; });
    EXPECT_EQ(visits, 2);
}

} // namespace
} // namespace velmora
