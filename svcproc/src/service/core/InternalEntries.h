// The entries the data cache keeps per sensor and per LED.
#pragma once

#include <cstdint>
#include <string>

#include "ServiceApi.h"

struct InternalSensor {
    uint32_t m_State = SENSOR_STATE_OK;
    int32_t m_Reading = 0;
    CSensorInformation m_Information;
};

struct InternalLed {
    bool m_bOn = false;
    uint16_t m_Urgency = 0;
    std::wstring m_Description;
    uint16_t m_BitMap = 0;
};
