namespace vrek {}
