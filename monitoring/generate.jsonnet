// The mixin's files as Prometheus and Grafana read them, with the default
// configuration: jsonnet -S -m generated generate.jsonnet (scripts/generate-mixin).
local mixin = import 'mixin.libsonnet';
{
  'alerts.yaml': std.manifestYamlDoc(mixin.prometheusAlerts, false, false),
  'rules.yaml': std.manifestYamlDoc(mixin.prometheusRules, false, false),
  'dashboard.json': std.manifestJsonEx(mixin.grafanaDashboards['lbxconfig.json'], '  ') + '\n',
}
