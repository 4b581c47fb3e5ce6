#pragma once
namespace hvb {

// Registers the Setting pane in the storyboard "Main".
void registerSettingsControllers();

}  // namespace hvb
