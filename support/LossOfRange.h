#pragma once

#include <boost/numeric/conversion/cast.hpp>

namespace oryx {

// The range error of every checked integer conversion of the system: a
// boost::bad_numeric_cast (so a catch of that type sees it) whose text does
// not depend on the Boost version or on the direction of overflow.
class LossOfRange : public boost::bad_numeric_cast {
public:
    const char* what() const noexcept override;
};

// `value` as a Target, or LossOfRange when it does not fit.
template <typename Target, typename Source>
Target rangeChecked(Source value)
{
    try {
        return boost::numeric_cast<Target>(value);
    } catch (const boost::bad_numeric_cast&) {
        throw LossOfRange();
    }
}

} // namespace oryx
