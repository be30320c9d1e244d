// Which characteristics a Bluetooth LE adapter is talked to through, from
// the GATT databases dongles on sale have.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GattLayout.h"

namespace {

using zelt::link::detail::ChooseGattLayout;
using zelt::link::detail::GattServiceInfo;

std::string Base(const char* shortUuid) {
    return "0000" + std::string(shortUuid) + "-0000-1000-8000-00805f9b34fb";
}

TEST(GattLayoutTest, ChoosesTheWriteAndNotifyCharacteristicsOfOneService) {
    const GattServiceInfo info{Base("180a"), {{"/info/c1", Base("2a29"), {"read"}}}};
    const GattServiceInfo notifyOnly{Base("abc0"), {{"/n/c1", Base("abc1"), {"notify"}}}};
    const GattServiceInfo writeOnly{Base("abd0"), {{"/w/c1", Base("abd1"), {"write"}}}};
    const GattServiceInfo both{Base("abe0"),
                               {{"/b/c1", Base("abe1"), {"read"}},
                                {"/b/c2", Base("abe2"), {"write-without-response"}},
                                {"/b/c3", Base("abe3"), {"indicate"}}}};
    // FFF0 with the notify characteristic first, and a writable one that is not FFF2.
    const GattServiceInfo fff0{Base("fff0"),
                               {{"/f/c1", Base("fff1"), {"notify"}},
                                {"/f/c2", Base("fff3"), {"write"}},
                                {"/f/c3", Base("fff2"), {"write-without-response", "write"}}}};
    const GattServiceInfo fff0Incomplete{Base("fff0"), {{"/i/c1", Base("fff1"), {"notify"}}}};
    struct Row {
        const char* what;
        std::vector<GattServiceInfo> services;
        const char* name;  // empty: no layout
        const char* write;
        const char* notify;
    };
    const Row table[] = {
        {"a known service wins over an earlier usable one", {both, fff0}, "FFF0", "/f/c3", "/f/c1"},
        {"a known service lacking its pair is not used",
         {fff0Incomplete, both},
         "ABE0",
         "/b/c2",
         "/b/c3"},
        {"characteristics are never paired across services",
         {info, notifyOnly, writeOnly},
         "",
         "",
         ""},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        const auto layout = ChooseGattLayout(row.services);
        ASSERT_EQ(layout.has_value(), row.name[0] != '\0');
        if (layout) {
            EXPECT_EQ(layout->name, row.name);
            EXPECT_EQ(layout->write.path, row.write);
            EXPECT_EQ(layout->notify.path, row.notify);
        }
    }
}

}  // namespace
