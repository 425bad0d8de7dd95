#include "file_type/dxt.hpp"
