// A renderer that reaches up to the presenter: the floors check must refuse it.
#pragma once

#include "core/values.hpp"
#include "presenter/presenter.hpp"
