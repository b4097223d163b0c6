#pragma once

namespace ovix {}
