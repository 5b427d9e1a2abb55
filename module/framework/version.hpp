#pragma once

namespace wmi {

// The module version, as the information document's MetaData.Version states it; every
// sensor, meta-scan and check logs it when built.
inline constexpr const char* module_version = "1.21.0.22799";

}  // namespace wmi
