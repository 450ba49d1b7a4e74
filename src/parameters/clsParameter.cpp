#include "korado/parameters/clsParameter.h"

#include <atomic>

#include "korado/connection/clsADO.h"
#include "korado/errors/clsADOError.h"
#include "korado/errors/modErrorHandler.h"
#include "korado/platform/modGlobals.h"
#include "korado/runtime/strings.h"
#include "runtime/hot_path.h"

namespace korado {
namespace {

constexpr std::string_view kClass = "clsParameter";

constexpr std::string_view kOutputNotSupported =
    "Output variables are not supported.\r\n\r\n"
    "You may be able to use output variables when using a different driver. There is also a possibility that "
    "your database does not support output variables at all.";

// Output modes given to any variable: binding remembers the count at which it found every variable input.
std::atomic<std::uint64_t> g_output_modes{0};

void CountOutputMode(std::int32_t mode) noexcept {
    if (mode != korParamIn) g_output_modes.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

KORADO_HOT std::uint64_t clsParameter::OutputModesGiven() noexcept {
    return g_output_modes.load(std::memory_order_relaxed);
}

clsParameter::~clsParameter() { Destructor(); }

void clsParameter::Constructor(const std::string& Name, std::int32_t ParamType, const Ref<clsADO>& ADO) {
    Try({kClass, "Constructor"}, [&] {
        m_ParamType = ParamType;
        m_Name = Name;
        m_ADO = ADO;
        if (ParamType == korBindVariable) {
            if (!m_ADO) RaiseRuntime(rt::ObjectNotSet);
            // The session's defaults are taken as they are: a host may have asked for a mode or type that
            // the setters would refuse, and the binding tables then leave such a parameter as created.
            m_Mode = m_ADO->DefaultParameterMode();
            m_DataType = m_ADO->DefaultParameterDataType();
        } else if (ParamType == korSubstitutionVariable) {
            m_Mode = korParamInOut;
            m_DataType = korTypeVarchar2;
        }
        CountOutputMode(m_Mode);
    });
}

KORADO_HOT std::int32_t clsParameter::DataType() {
    std::int32_t result = 0;
    Try({kClass, "Get DataType"}, [&]() KORADO_HOT { result = m_DataType; });
    return result;
}

void clsParameter::SetDataType(std::int32_t NewDataType) {
    Try({kClass, "Let DataType"}, [&] {
        if (m_ParamType == korBindVariable) {
            m_DataType =
                NewDataType >= korTypeOther && NewDataType <= korTypeDate ? NewDataType : korTypeOther;
        } else if (m_ParamType == korSubstitutionVariable) {
            m_DataType = korTypeVarchar2;
        }
    });
}

void clsParameter::Destructor() {
    Try({kClass, "Destructor"}, [&] { m_ADO = nullptr; });
}

KORADO_HOT std::int32_t clsParameter::Mode() {
    std::int32_t result = 0;
    Try({kClass, "Get Mode"}, [&]() KORADO_HOT { result = m_Mode; });
    return result;
}

void clsParameter::SetMode(std::int32_t& lNewValue) {
    Try({kClass, "Let Mode"}, [&] {
        const bool valid = lNewValue >= korParamIn && lNewValue <= korParamInOut;
        // Hosts pass their own variable and read it back: a substitution variable is always input.
        if (m_ParamType == korSubstitutionVariable) lNewValue = korParamIn;
        if (!valid) Raise(NoDictionaryDataFound, "Invalid parameter mode.");
        if (lNewValue == korParamIn) {
            m_Mode = korParamIn;
            return;
        }
        // Asking the provider now, rather than when the statement runs, lets the host learn at once that
        // its output variables would come back unchanged.
        if (!m_ADO) RaiseRuntime(rt::ObjectNotSet);
        Ref<ado::Connection> connection = m_ADO->Connection();
        if (!connection) RaiseRuntime(rt::ObjectNotSet);
        const Variant availability = connection->Properties()->Item("Output Parameter Availability")->Value();
        if (Equals(availability, Variant(ado::DBPROPVAL_OA_NOTSUPPORTED))) {
            if (!g_ADOError) RaiseRuntime(rt::ObjectNotSet);
            g_ADOError->Exception(std::string(kOutputNotSupported), GeneralException);
        } else if (Equals(availability, Variant(ado::DBPROPVAL_OA_ATEXECUTE)) ||
                   Equals(availability, Variant(ado::DBPROPVAL_OA_ATROWRELEASE))) {
            m_Mode = lNewValue;
            CountOutputMode(m_Mode);
        }
    });
}

std::string clsParameter::Name() {
    std::string result;
    Try({kClass, "Get Name"}, [&] { result = m_Name; });
    return result;
}

std::int32_t clsParameter::ParamType() {
    std::int32_t result = 0;
    Try({kClass, "Get ParamType"}, [&] { result = m_ParamType; });
    return result;
}

KORADO_HOT std::int32_t clsParameter::Size() {
    std::int32_t result = 0;
    Try({kClass, "Get Size"}, [&]() KORADO_HOT { result = m_Size; });
    return result;
}

void clsParameter::SetSize(std::int32_t NewValue) {
    Try({kClass, "Let Size"}, [&] { m_Size = NewValue; });
}

Variant clsParameter::Value() { return ReadValue(); }

KORADO_HOT const Variant& clsParameter::ReadValue() {
    Try({kClass, "Get Value"}, [&]() KORADO_HOT {
        // The binding code reads Value before Size and relies on this: a text variable's size follows its
        // current value. A Null text has no length, so this fails and Size keeps what it held. Text is
        // measured where it lies; numbers without being converted.
        m_Size = m_DataType == korTypeVarchar2 ? static_cast<std::int32_t>(LenOfText(m_Value)) : -1;
    });
    return m_Value;
}

KORADO_HOT void clsParameter::SetValue(const Variant& NewValue) {
    Try({kClass, "Let Value"}, [&]() KORADO_HOT { m_Value = NewValue; });
}

const MemberTable* clsParameter::Members() const noexcept {
    static const MemberTable t = MemberTable::Of<clsParameter>()
                                     .Method<&clsParameter::Constructor>("Constructor")
                                     .Get<&clsParameter::DataType>("DataType")
                                     .Let<&clsParameter::SetDataType>("DataType")
                                     .Method<&clsParameter::Destructor>("Destructor")
                                     .Get<&clsParameter::Mode>("Mode")
                                     .Let<&clsParameter::SetMode>("Mode")
                                     .Get<&clsParameter::Name>("Name")
                                     .Get<&clsParameter::ParamType>("ParamType")
                                     .Get<&clsParameter::Size>("Size")
                                     .Let<&clsParameter::SetSize>("Size")
                                     .Get<&clsParameter::Value>("Value")
                                     .Let<&clsParameter::SetValue>("Value")
                                     .Set<&clsParameter::SetValue>("Value")
                                     .Build();
    return &t;
}

}  // namespace korado
