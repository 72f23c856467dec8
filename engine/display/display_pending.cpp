// Placeholder until the Qt display adapter lands.
namespace lunark_display_pending {}
