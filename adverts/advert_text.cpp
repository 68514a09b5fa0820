#include "adverts/advert_text.h"
