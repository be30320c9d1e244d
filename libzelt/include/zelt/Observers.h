#pragma once

#include "obd/IConnectionServiceObserver.h"
#include "obd/ITroubleshootingServiceObserver.h"
#include "orvane/Observer.h"
#include "zelt/Export.h"

// The observer bases of the repositories are instantiated once, inside the
// library, and exported from it.
extern template class ZELT_API orvane::Observer<obd::IConnectionServiceObserver>;
extern template class ZELT_API orvane::Observer<obd::ITroubleshootingServiceObserver>;
