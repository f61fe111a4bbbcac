// The LBXConfig monitoring mixin: alerts, recording rules and a dashboard for
// the metrics lbxctl check writes. Import it and change _config to fit:
//   (import 'mixin.libsonnet') + { _config+:: { lbxSelector: 'job="sites"' } }
(import 'config.libsonnet')
+ (import 'alerts.libsonnet')
+ (import 'rules.libsonnet')
+ (import 'dashboards.libsonnet')
