#pragma once
// A device link and the virtual meter bench on a pseudo-terminal in a
// temporary directory, for the link's tests; boxes are scripted.

#include "device_link.h"
#include "meter_bench.h"
#include "qt_serial_events.h"
#include "scripted_messages.h"

#include <QTemporaryDir>

#include <memory>
#include <string>

struct LinkOnBench {
    LinkOnBench()
    {
        InstallQtSerialEventDelivery();
        linkPath = (dir.path() + QStringLiteral("/ttyBench")).toStdString();
    }

    void OpenPort()
    {
        link->ComPort1().SetDeviceName(linkPath);
        link->ComPort1().Open();
    }

    QTemporaryDir dir;
    std::string linkPath;
    ScopedScriptedMessages boxes;
    std::unique_ptr<metersim::MeterBench> bench;
    std::unique_ptr<DeviceLink> link = std::make_unique<DeviceLink>();
};
