#include "lines.h"

namespace vornlog {

namespace detail {
ErrorObserver* errorObserver = nullptr;
} // namespace detail

ErrorObserver* setErrorObserver(ErrorObserver* observer)
{
    ErrorObserver* previous = detail::errorObserver;
    detail::errorObserver = observer;
    return previous;
}

} // namespace vornlog
