// Placeholder until the viewer lands.
namespace lunark_app_pending {}
