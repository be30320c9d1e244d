#include "zelt/Observers.h"

// The extern declarations in the header carry the export attribute.
template class orvane::Observer<obd::IConnectionServiceObserver>;
template class orvane::Observer<obd::ITroubleshootingServiceObserver>;
