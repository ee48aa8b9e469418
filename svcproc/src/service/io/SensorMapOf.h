// The cache's map of a sensor kind, reached through a held cache access.
#pragma once

#include "SvcpProtocol.h"
#include "core/DataCache.h"

inline CSensorMap& SensorMapOf(const CDataCache::CAccess& access, svcproc::io::SensorKind kind) {
    switch (kind) {
    case svcproc::io::SensorKind::Voltage:
        return access.Voltages();
    case svcproc::io::SensorKind::Fan:
        return access.Fans();
    case svcproc::io::SensorKind::Temperature:
        break;
    }
    return access.Temperatures();
}
