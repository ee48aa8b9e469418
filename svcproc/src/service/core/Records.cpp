// The public records. Defined here and exported, so a record the caller made
// is filled and copied by the library with one layout and one allocator.
#include "ServiceApi.h"

CSensorHandleList::CSensorHandleList() = default;
CSensorHandleList::CSensorHandleList(const CSensorHandleList& other) = default;
CSensorHandleList& CSensorHandleList::operator=(const CSensorHandleList& other) = default;
CSensorHandleList::~CSensorHandleList() = default;

CLedHandleList::CLedHandleList() = default;
CLedHandleList::CLedHandleList(const CLedHandleList& other) = default;
CLedHandleList& CLedHandleList::operator=(const CLedHandleList& other) = default;
CLedHandleList::~CLedHandleList() = default;

// The numeric fields mean nothing until GetSensorInformation fills them; they
// start at zero so that copying an unfilled record copies defined values.
CSensorInformation::CSensorInformation()
    : m_Accuracy(0), m_BaseUnits(0), m_Hysteresis(0), m_bIsLinear(false),
      m_LowerThresholdCritical(0), m_LowerThresholdFatal(0), m_LowerThresholdNonCritical(0),
      m_MaxReadable(0), m_MinReadable(0), m_NominalReading(0), m_RateUnits(0), m_Resolution(0),
      m_SensorType(0), m_UnitModifier(0), m_UpperThresholdCritical(0), m_UpperThresholdFatal(0),
      m_UpperThresholdNonCritical(0) {}
CSensorInformation::CSensorInformation(const CSensorInformation& other) = default;
CSensorInformation& CSensorInformation::operator=(const CSensorInformation& other) = default;
CSensorInformation::~CSensorInformation() = default;

CLedInformation::CLedInformation() : m_Urgency(0), m_BitMap(0) {}
CLedInformation::CLedInformation(const CLedInformation& other) = default;
CLedInformation& CLedInformation::operator=(const CLedInformation& other) = default;
CLedInformation::~CLedInformation() = default;

CSensorReading& CSensorReading::operator=(const CSensorReading& other) {
    m_Reading = other.m_Reading;
    m_State = other.m_State;
    return *this;
}

CLedReading& CLedReading::operator=(const CLedReading& other) {
    m_bOn = other.m_bOn;
    return *this;
}

// The listener has no data: the constructors only set the dispatch table and
// assignment copies nothing.
ISensorStateListener::ISensorStateListener() = default;
ISensorStateListener::ISensorStateListener(const ISensorStateListener&) = default;
ISensorStateListener& ISensorStateListener::operator=(const ISensorStateListener&) {
    return *this;
}
